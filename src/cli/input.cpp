// The operator's input, checked before anything is sent: parameter files (or
// standard input), NAME=VALUE assignments, page lists, and the suggestion of
// a known word for a mistyped one.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "com232/flash.h"
#include "com232/paramfile.h"
#include "com232/params.h"

namespace orv_cli {

namespace {

// A parameter file is a line of sixteen numbers; a file larger than this is
// something else (and a device such as /dev/zero has no end).
constexpr std::size_t PARA_TEXT_MAX = 1 << 20;
constexpr const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

bool IsSeparator(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' || ch == '\f' || ch == '\v' || ch == ',';
}

// The whole of `path` ("-": standard input), at most PARA_TEXT_MAX bytes.
bool ReadText(const std::string& path, std::string* text, std::string* why) {
    std::FILE* in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        *why = "cannot read " + DisplayName(path) + ": " + SystemReason(errno);
        return false;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0 && text->size() <= PARA_TEXT_MAX)
        text->append(chunk, got);
    const int err = std::ferror(in) != 0 ? errno : 0;
    if (in != stdin)
        std::fclose(in);
    if (err != 0) {
        *why = "cannot read " + DisplayName(path) + ": " + SystemReason(err);
        return false;
    }
    if (text->size() > PARA_TEXT_MAX) {
        *why = DisplayName(path) + " is far larger than a parameter file (16 numbers)";
        return false;
    }
    return true;
}

int Distance(const std::string& a, const std::string& b) {
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A word of the parameter block: digits only, as the window reads them. A
// sign, or more than 16 bits, makes a number out of range; anything else is
// no number at all.
enum WordCheck { WORD_OK, WORD_OUT_OF_RANGE, WORD_NOT_A_NUMBER };

WordCheck ParseWord(const std::string& token, int32_t* value) {
    const std::size_t sign = token.size() > 1 && token[0] == '-' ? 1 : 0;
    if (token.empty() || token.find_first_not_of("0123456789", sign) != std::string::npos)
        return WORD_NOT_A_NUMBER;
    unsigned long v = 0;
    const auto [ptr, ec] = std::from_chars(token.data() + sign, token.data() + token.size(), v);
    if (sign != 0 || ec != std::errc() || v > orv::PARA_WORD_MAX)
        return WORD_OUT_OF_RANGE;
    *value = static_cast<int32_t>(v);
    return WORD_OK;
}

std::string WordProblem(WordCheck check) {
    return check == WORD_OUT_OF_RANGE ? "is out of range 0.." + std::to_string(orv::PARA_WORD_MAX)
                                      : "is not a number";
}

std::string SlotNames() {
    std::string names;
    for (int32_t k = 0; k < orv::PNUM; ++k)
        names += std::string(k > 0 ? " " : "") + orv::SlotName(k);
    return names;
}

}  // namespace

std::string DisplayName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

std::string SystemReason(int err) {
    std::string text = std::strerror(err);
    // "Permission denied" reads "permission denied" after a colon.
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string Suggest(const std::string& word, const std::vector<std::string>& known) {
    std::string best;
    int bestDistance = 3;  // at most two letters wrong
    for (const std::string& k : known) {
        const int d = Distance(word, k);
        if (d < bestDistance && d < static_cast<int>(k.size())) {
            best = k;
            bestDistance = d;
        }
    }
    return best;
}

bool ParseParaText(const std::string& text, const std::string& name, Block* block, std::string* why) {
    std::size_t at = text.compare(0, 3, BYTE_ORDER_MARK) == 0 ? 3 : 0;
    Block values{};
    long count = 0;
    while (at < text.size()) {
        if (IsSeparator(text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        const std::string token = text.substr(at, end - at);
        at = end;
        int32_t value = 0;
        const WordCheck check = ParseWord(token, &value);
        if (check != WORD_OK) {
            const std::string slot = count < orv::PNUM ? std::string(" (") + orv::SlotName(count) + ")" : "";
            *why = name + ": number " + std::to_string(count + 1) + slot + " '" + token.substr(0, 24) + "' " +
                   WordProblem(check);
            return false;
        }
        if (count < orv::PNUM)
            values[static_cast<std::size_t>(count)] = value;
        ++count;
    }
    if (count != orv::PNUM) {
        *why = name + " holds " + std::to_string(count) + " numbers; a parameter file holds exactly " +
               std::to_string(orv::PNUM) + " (" + SlotNames() + ")";
        return false;
    }
    *block = values;
    return true;
}

bool ReadParaInput(const std::string& path, Block* block, std::string* why) {
    std::string text;
    return ReadText(path, &text, why) && ParseParaText(text, DisplayName(path), block, why);
}

bool ParseAssignment(const std::string& text, int32_t* slot, int32_t* value, std::string* why) {
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    *slot = orv::SlotIndex(name.c_str());
    if (eq == std::string::npos) {
        *why = "'" + text + "' is not NAME=VALUE (names: " + SlotNames() + ")";
        return false;
    }
    if (*slot < 0) {
        std::vector<std::string> names;
        for (int32_t k = 0; k < orv::PNUM; ++k)
            names.emplace_back(orv::SlotName(k));
        const std::string guess = Suggest(name, names);
        *why = "no parameter '" + name + "'" +
               (guess.empty() ? " (names: " + SlotNames() + ")" : "; did you mean " + guess + "?");
        return false;
    }
    const WordCheck check = ParseWord(text.substr(eq + 1), value);
    if (check != WORD_OK) {
        *why = text + ": " + (check == WORD_OUT_OF_RANGE ? "out of range" : "not a number") + "; " + name +
               " takes a whole number of 0.." + std::to_string(orv::PARA_WORD_MAX);
        return false;
    }
    return true;
}

bool ParsePages(const std::string& text, int32_t* pages, std::string* why) {
    *pages = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const int first = 4;
        if (item.size() != 1 || item[0] < '0' + first || item[0] > '0' + first + 3) {
            *why = "--pages takes pages of 4..7 separated by commas (e.g. --pages 5,6), not '" + text + "'";
            return false;
        }
        *pages |= 1 << (item[0] - '0' - first);
        at = comma + 1;
    }
    return true;
}

}  // namespace orv_cli
