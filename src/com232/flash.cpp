// The flash programming sequence. Every block takes two direct exchanges:
// an address frame (order 20) naming the flash address of the block, then a
// data frame (order 21) with its 16 words. Each exchange writes the frame,
// waits, and reads one 36-byte reply of which only data word 0 counts.
#include "com232/flash.h"

#include <cstdio>

#include "com232/corrtable.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/report.h"
#include "com232/rs232.h"
#include "runtime/rtcore.h"

namespace orv {

namespace {

constexpr uint16_t ADDRESS_ACCEPTED = 170;
constexpr uint16_t DATA_ADDRESS_INVALID = 0;
constexpr uint16_t DATA_ADDRESS_VALID = 1;
constexpr uint16_t DATA_WRITTEN = 2;
// A failed page reports at most this many words, below the ok threshold.
constexpr int32_t FAILED_PAGE_MAX = PAGE_WORDS - PNUM;

struct Page {
    int32_t address;
    const std::array<int32_t, PAGE_WORDS>* buffer;
    const char* ok;
    const char* error;
};

// The request of the exchange before, whose reply was judged while the line
// could still drop it.
uint32_t lastExchange = 0;
// The port a programming runs on (ProgramFlash); the exchanges called on
// their own use the port in use, `com`.
int flashPort = 0;

int FlashPort() {
    return flashPort > 0 ? flashPort : com;
}

// Writes the frame, waits, and reads its reply into szReadBuf: RX_FRAME when
// a whole reply came, RX_JUNK when what came did not divide into frames,
// RX_SHORT when nothing whole came by the time-out. Only time, count and
// order of the replies decide which one answers this frame, never its sync
// or order word; a reply that comes after its exchange gave up answers no
// later frame. The reply is judged as soon as it is whole, and the next frame
// goes out at once; should the line show afterwards that bytes trailed it, the
// exchange after it fails instead.
int Exchange(int32_t orderCode, const int32_t* values) {
    const uint32_t seq = WriteRequest(FlashPort(), orderCode, values);
    WatchLine(FlashPort(), FLASH_REPLY_WAIT);
    const int r = AwaitReply(FlashPort(), seq, seq, Timer() + COM_TIMEOUT, true);
    const bool earlierDropped = lastExchange != 0 && ReplyDropped(lastExchange);
    lastExchange = r == RX_FRAME ? seq : 0;
    return earlierDropped ? RX_JUNK : r;
}

// Waits until the line has confirmed the last reply judged; false when it
// dropped it.
bool LastExchangeStood() {
    const uint32_t seq = lastExchange;
    lastExchange = 0;
    return seq == 0 || ConfirmReply(FlashPort(), seq, Timer() + COM_TIMEOUT) != RX_JUNK;
}

}  // namespace

int32_t SendInfoBlockToFlash(int32_t blockAddress, int32_t word0) {
    std::array<int32_t, PNUM> words{};
    words[0] = word0;
    words[1] = blockAddress;
    const int r = Exchange(ORD_FLASH_ADDRESS, words.data());
    if (r == RX_SHORT) {
        SetStatusText("Timeout: SendInfoBlockToFlash < 36 Bytes");
        return FLASH_NO_REPLY;
    }
    // Bytes that are no reply count as an unknown answer.
    if (r == RX_FRAME && FrameWord(szReadBuf, 0) == ADDRESS_ACCEPTED) {
        SetStatusText("ok:  SendInfoBlockToFlash!");
        return FLASH_ADDRESS_OK;
    }
    SetStatusText("error : unknown T460 echo at order-20!");
    return FLASH_ADDRESS_UNKNOWN;
}

int32_t WriteBlockDataToFlash(const int32_t* entries) {
    int32_t result;
    const int r = Exchange(ORD_FLASH_DATA, entries);
    if (r == RX_SHORT) {
        SetStatusText("Timeout < 36 Bytes");
        result = FLASH_NO_REPLY;
    } else {
        const int32_t reply = r == RX_FRAME ? FrameWord(szReadBuf, 0) : -1;
        switch (reply) {
            case DATA_ADDRESS_INVALID:
                SetStatusText("error : T460 FLASH erase-adress not valid!");
                result = FLASH_ERASE_INVALID;
                break;
            case DATA_ADDRESS_VALID:
                SetStatusText("ok : T460 FLASH erase-adress valid!");
                result = FLASH_ERASE_VALID;
                break;
            case DATA_WRITTEN:
                SetStatusText("ok : T460 FLASH block-write 16-words!");
                result = FLASH_BLOCK_WRITTEN;
                break;
            default:
                SetStatusText("error : T460 unknown-echo at order=21!");
                result = FLASH_DATA_UNKNOWN;
                break;
        }
    }
    ShowStatus(szStatus.data());
    return result;
}

int32_t WritePageDataToFlash(int32_t pageAddress, const int32_t* pageBuffer) {
    int32_t count = 0;
    int32_t offset = 0;
    bool complete = true;
    for (int32_t block = 0; block < MAXBLOCK; ++block) {
        if (flash_stop != 0) {
            complete = false;
            break;
        }
        for (int k = 0; k < PNUM; ++k) {
            pp[k] = pageBuffer[count];
            ++count;
            ShowWordCount(count);
        }
        if (SendInfoBlockToFlash(pageAddress + offset, 0) < 0) {
            complete = false;
            break;
        }
        if (WriteBlockDataToFlash(pp.data()) < 0) {
            complete = false;
            break;
        }
        if (offset == 0) {
            WatchLine(FlashPort(), FLASH_ERASE_WAIT);
        }
        offset += PNUM;
    }
    // The page's last reply must stand before the page counts as written.
    if (!LastExchangeStood())
        complete = false;
    if (!complete && count > FAILED_PAGE_MAX) {
        count = FAILED_PAGE_MAX;
    }
    return count;
}

namespace {

constexpr int FLASH_PAGES = 4;  // pages 4..7
constexpr int FIRST_PAGE = 4;

}  // namespace

int32_t ComposeFlashSummary(int32_t failedPages, int32_t saveFailed) {
    std::array<char, FLASH_PAGES> failed{};  // digits of the failed pages, in order
    int n = 0;
    char written = '0';  // a page that was written
    for (int k = 0; k < FLASH_PAGES; ++k) {
        const char digit = static_cast<char>('0' + FIRST_PAGE + k);
        if ((failedPages >> k) & 1) {
            failed[n++] = digit;
        } else {
            written = digit;
        }
    }
    if (n == 0 && saveFailed == 0) {
        return 0;
    }
    if (n == 0) {
        SetStatusText("error : KXlinear.dat not saved - flash written!");
        return 1;
    }
    if (saveFailed == 0) {
        // Every failed page by name: at most "page4 page5 page6 page7".
        std::array<char, 32> list{};
        int used = 0;
        for (int i = 0; i < n; ++i) {
            used += std::snprintf(list.data() + used, list.size() - static_cast<std::size_t>(used),
                                  "%spage%c", i > 0 ? " " : "", failed[i]);
        }
        std::snprintf(szStatus.data(), szStatus.size(), "error : T460 FLASH %s not written!", list.data());
        return 1;
    }
    // Both failed: the pages in short so that the text fits the status
    // buffer; with three pages failed the one page written is named instead.
    switch (n) {
        case 1:
            std::snprintf(szStatus.data(), szStatus.size(),
                          "error : T460 FLASH page%c not written, KXlinear.dat not saved!", failed[0]);
            break;
        case 2:
            std::snprintf(szStatus.data(), szStatus.size(),
                          "error : T460 FLASH page%c,%c not written, KXlinear.dat not saved!", failed[0],
                          failed[1]);
            break;
        case 3:
            std::snprintf(szStatus.data(), szStatus.size(),
                          "error : T460 FLASH only page%c written, KXlinear.dat not saved!", written);
            break;
        default:
            SetStatusText("error : T460 FLASH page4-7 not written, KXlinear.dat not saved!");
            break;
    }
    return 1;
}

int32_t SendCorrDataToFlash() {
    return ProgramFlash(com);
}

int32_t ProgramFlash(int port) {
    flashPort = port;
    static const Page pages[] = {
        {PAGE4, &flashp4, "ok : T460 FLASH page4-write 255 words!",
         "error : T460 FLASH page4-write <255 words!"},
        {PAGE5, &flashp5, "ok : T460 FLASH page5-write 255 words!",
         "error : T460 FLASH page5-write <255 words!"},
        {PAGE6, &flashp6, "ok : T460 FLASH page6-write 255 words!",
         "error : T460 FLASH page6-write <255 words!"},
        {PAGE7, &flashp7, "ok : T460 FLASH page7-write 255 words!",
         "error : T460 FLASH page7-write <255 words!"},
    };
    constexpr int pageCount = static_cast<int>(sizeof pages / sizeof pages[0]);
    static_assert(pageCount == FLASH_PAGES);

    const int32_t planned = flash_pages & FLASH_ALL_PAGES;
    int32_t failedPages = 0;
    for (int i = 0; i < pageCount; ++i) {
        if (((planned >> i) & 1) == 0) {
            continue;
        }
        if (flash_stop != 0) {
            failedPages |= 1 << i;
            continue;
        }
        flash_page = FIRST_PAGE + i;
        int32_t count = WritePageDataToFlash(pages[i].address, pages[i].buffer->data());
        for (int32_t retry = 1; count < PAGE_OK_WORDS && retry <= flash_retries && flash_stop == 0; ++retry) {
            ShowStatus(pages[i].error);
            ShowStatusF("page%d: programming again (%ld of %ld)", flash_page, static_cast<long>(retry),
                        static_cast<long>(flash_retries));
            WatchLine(FlashPort(), FLASH_PAGE_WAIT);
            count = WritePageDataToFlash(pages[i].address, pages[i].buffer->data());
        }
        if (count < PAGE_OK_WORDS) {
            failedPages |= 1 << i;
        }
        SetStatusText(count >= PAGE_OK_WORDS ? pages[i].ok : pages[i].error);
        ShowStatus(szStatus.data());
        if ((planned >> (i + 1)) != 0 && flash_stop == 0) {
            WatchLine(FlashPort(), FLASH_PAGE_WAIT);
        }
    }
    flash_page = 0;
    ShowWordCount(0);
    // Page messages pass by within a fraction of a second: a failed page, or
    // a table record that could not be saved, ends the run with a message
    // that names it and stays.
    if (ComposeFlashSummary(failedPages, corr_save_failed) != 0) {
        ShowStatus(szStatus.data());
    }
    flashPort = 0;
    return failedPages;
}

int32_t flash_pages = FLASH_ALL_PAGES;
int32_t flash_retries = 0;
volatile std::sig_atomic_t flash_stop = 0;
int32_t flash_page = 0;

}  // namespace orv
