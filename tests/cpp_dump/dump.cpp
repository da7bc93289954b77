// Test driver for the text primitives, used by the Python tests, which
// compare its answers with a model built from the UCD files.
//
//   dump table   For every code point 0..0x10FFFF, one flag byte (bit 0
//                is_alphabetic, bit 1 is_white_space, bit 2 is_cased,
//                bit 3 is_case_ignorable; 0 for the surrogates, which are
//                not scalar values), then one text line per scalar value
//                whose to_lower differs from itself: the code point and its
//                mapping in hex, separated by spaces.
//   dump serve   Answers requests until end of input. A request is a line
//                "<op> <byte count>" and that many bytes of UTF-8 text; the
//                answer is a line with a byte count and the bytes, or for
//                split a line with the number of words and then each word
//                so framed. Ops: lower (to_lowercase), append (append_lowercase
//                onto a string already holding U+03A3), letters (keep_letters),
//                split (split_words).
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_classes.hpp"
#include "text/lowercase.hpp"

namespace {

using namespace parvenkel::text;

void write_all(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void write_framed(std::string_view bytes) {
    std::printf("%zu\n", bytes.size());
    write_all(bytes);
}

int dump_table() {
    std::vector<unsigned char> flags(0x110000, 0);
    std::string mappings;
    char line[64];
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            continue;
        }
        flags[cp] =
            static_cast<unsigned char>((is_alphabetic(cp) ? 1 : 0) | (is_white_space(cp) ? 2 : 0) |
                                       (is_cased(cp) ? 4 : 0) | (is_case_ignorable(cp) ? 8 : 0));
        const LowerMapping m = to_lower(cp);
        if (m.len == 1 && m.cp[0] == cp) {
            continue;
        }
        int used = std::snprintf(line, sizeof line, "%X", static_cast<unsigned>(cp));
        for (std::size_t k = 0; k < m.len; ++k) {
            used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), " %X",
                                  static_cast<unsigned>(m.cp[k]));
        }
        mappings.append(line, static_cast<std::size_t>(used));
        mappings.push_back('\n');
    }
    std::fwrite(flags.data(), 1, flags.size(), stdout);
    write_all(mappings);
    return 0;
}

int serve() {
    char op[16];
    std::size_t size = 0;
    std::string text;
    while (std::scanf("%15s %zu", op, &size) == 2) {
        if (std::getchar() != '\n') {
            return 2;
        }
        text.resize(size);
        if (std::fread(text.data(), 1, size, stdin) != size) {
            return 2;
        }
        if (std::strcmp(op, "lower") == 0) {
            write_framed(to_lowercase(text));
        } else if (std::strcmp(op, "append") == 0) {
            std::string out = "\xCE\xA3";
            append_lowercase(out, text);
            write_framed(out);
        } else if (std::strcmp(op, "letters") == 0) {
            write_framed(keep_letters(text));
        } else if (std::strcmp(op, "split") == 0) {
            std::vector<std::string_view> words;
            split_words(text, [&words](std::string_view word) { words.push_back(word); });
            std::printf("%zu\n", words.size());
            for (std::string_view word : words) {
                write_framed(word);
            }
        } else {
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "table") == 0) {
        return dump_table();
    }
    if (argc == 2 && std::strcmp(argv[1], "serve") == 0) {
        return serve();
    }
    std::fputs("usage: dump table | dump serve\n", stderr);
    return 2;
}
