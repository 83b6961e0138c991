// Programming the correction table into flash pages 4..7, 16 words per block.
#pragma once

#include <array>
#include <csignal>
#include <cstdint>

namespace orv {

// Flash address of pages 4..7 (page k starts at 4096 + 256 k; one address
// per 16-bit word). Pages 0..3 are not programmed.
constexpr int32_t PAGE4 = 5120;
constexpr int32_t PAGE5 = 5376;
constexpr int32_t PAGE6 = 5632;
constexpr int32_t PAGE7 = 5888;
constexpr int32_t MAXBLOCK = 16;
constexpr int32_t PAGE_WORDS = 256;

// A page counts as written when its count reaches this (all 256 words).
constexpr int32_t PAGE_OK_WORDS = 255;

// Results of the two exchanges: positive for success, negative for failure.
constexpr int32_t FLASH_ADDRESS_OK = 1;        // the address reply was 170
constexpr int32_t FLASH_BLOCK_WRITTEN = 1;     // data reply 2
constexpr int32_t FLASH_ERASE_VALID = 2;       // data reply 1: the block starts a page
constexpr int32_t FLASH_NO_REPLY = -1;         // no whole reply within the time-out
constexpr int32_t FLASH_ADDRESS_UNKNOWN = -2;  // any other address reply
constexpr int32_t FLASH_ERASE_INVALID = -2;    // data reply 0
constexpr int32_t FLASH_DATA_UNKNOWN = -3;     // any other data reply

// Waits of the sequence, in seconds.
constexpr double FLASH_REPLY_WAIT = 0.05;  // between a frame and the read of its reply
constexpr double FLASH_ERASE_WAIT = 0.15;  // after a good block 0 of a page
constexpr double FLASH_PAGE_WAIT = 0.05;   // between two pages

// Programs pages 4..7 from flashp4..flashp7; all four are always attempted.
// Shows every data block's outcome and every page's message, counts the words
// on the word counter and leaves it at 0. When a page failed, or the build could not
// save "KXlinear.dat" (corr_save_failed), it ends with a summary that names
// what failed; otherwise page 7's ok message is the last text. Returns the
// failed pages, bit k set when page 4 + k was not written (0: all written).
int32_t SendCorrDataToFlash();
// SendCorrDataToFlash on `port` (an open line, OpenLine) instead of `com`.
int32_t ProgramFlash(int port);
// Composes the closing summary in szStatus: `failedPages` has bit k set when
// page 4 + k failed, `saveFailed` is 1 when "KXlinear.dat" was not saved.
// Returns 1 when there is something to report, 0 (szStatus untouched) when
// everything succeeded. The text always fits szStatus.
int32_t ComposeFlashSummary(int32_t failedPages, int32_t saveFailed);
// Programs one page in MAXBLOCK blocks. Returns 256 when every block passed.
// When a block fails the page ends there and the result is the number of
// words taken up to and including that block, at most 240, so that a stop in
// the last block is not mistaken for a complete page.
int32_t WritePageDataToFlash(int32_t pageAddress, const int32_t* pageBuffer);
// The block address exchange (order 20): FLASH_ADDRESS_OK, FLASH_NO_REPLY or
// FLASH_ADDRESS_UNKNOWN. Leaves its text in szStatus without showing it.
int32_t SendInfoBlockToFlash(int32_t blockAddress, int32_t word0);
// The block data exchange (order 21) with 16 entries: FLASH_BLOCK_WRITTEN,
// FLASH_ERASE_VALID, FLASH_NO_REPLY, FLASH_ERASE_INVALID or FLASH_DATA_UNKNOWN.
// Shows its text on the status line.
int32_t WriteBlockDataToFlash(const int32_t* entries);

// Every page SendCorrDataToFlash can program: bit k is page 4 + k.
constexpr int32_t FLASH_ALL_PAGES = 0xF;

// What a front end may ask of SendCorrDataToFlash besides the window's run of
// all four pages; the window leaves them as they start.
// The pages to program (bit k: page 4 + k); the others are left as they are,
// and the wait between pages falls only between two pages programmed.
extern int32_t flash_pages;
// How many times a page whose exchange failed is programmed again from its
// first block (0: once only, a failed block is never repeated).
extern int32_t flash_retries;
// A stop request, which may be set from a signal handler. It is looked at
// before every block: the exchange in flight finishes, so no frame is left
// half-written, and no further frame is sent. Pages not finished count as
// failed in the result. Never set by the window.
extern volatile std::sig_atomic_t flash_stop;
// The page being programmed (4..7) while the word counter runs, else 0.
extern int32_t flash_page;

}  // namespace orv
