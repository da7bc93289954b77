// The word walker, written once and compiled inside the namespace of each
// instruction set (scalar/, sse2/ and avx2/word_walker.cpp), where the
// names classify_block, classify_two_block, classify_three_block,
// gather_letters and letter_runs (with GATHERS and LETTER_RUNS) are that
// set's kernels: they inline into the loops below, which never ask which
// set they run on.
//
// Keyword extraction: split at White_Space, keep the Alphabetic characters,
// lowercase, count the words of at least MIN_KEYWORD_BYTES that are not stop
// words.
//
// The text is read in chunks of CHUNK code units, in whichever form it has
// (UTF-8, or one, two or four bytes a code point). A chunk is first
// classified, a block of 64 units at a time: bitmaps mark the ASCII
// White_Space units, the ASCII letters and the units that are not ASCII, and
// the units' ASCII lowercase forms are written to a byte buffer; a block that
// holds units that are not ASCII also gets a bitmap of its simple letters of
// two UTF-8 bytes (Latin-1, basic Greek and Cyrillic) and their lowercase
// forms and, in text of two or four bytes a unit that has them, bitmaps of
// its common CJK letters of three bytes (kana, ideographs, Hangul) and of the
// punctuation beyond ASCII that words drop, with the UTF-8 form of each unit.
// The pieces between White_Space units are then walked a block at a time,
// from a mask of their starts, with count-trailing-zeros:
//
//   * a piece of ASCII (most pieces of Latin prose) or of simple letters of
//     two bytes is counted from the bitmaps and the buffers: its letters are
//     usually one run, which becomes the table's key with two loads and two
//     masks;
//   * a piece with CJK letters, or one longer than 63 units, is counted from
//     the bitmaps and forms too (masked_piece) if they cover all it holds;
//   * a piece with any other character, or one running past the chunk,
//     takes the exact path from its first unit to the White_Space character
//     that ends it (which may be one that is not ASCII): vector runs of
//     letters of one script where they apply (letter_runs), otherwise
//     character by character through the Unicode tables.
//
// No include guard: each word_walker.cpp includes this file once, inside
// the set's region (begin.hpp, which names the set), after
// generic/dependencies.hpp (every header it needs) and the set's kernels.

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

using analysis::MIN_KEYWORD_BYTES;
using analysis::WordTable;
using text::detail::is_white_space;

class Walker final : public WordSink {
   public:
    Walker(const std::vector<std::string>& stop_words, std::uint64_t seed, std::size_t text_bytes)
        : WordSink(stop_words, seed, text_bytes) {
        chunk_ = std::make_unique<Chunk>();
    }

    void count(text::TextView text) override {
        text.visit([&]<class View>(View units) { count(units.data(), units.size()); });
    }

   private:
    template <class Unit>
    void count(const Unit* units, std::size_t size) {
        std::size_t pos = 0;
        for (std::size_t chunks = 0; pos < size; ++chunks) {
            const std::size_t length = std::min(CHUNK, size - pos);
            // Text without letters of two bytes (CJK, say) skips looking
            // for them after a chunk that had none, looking again now and
            // then; their pieces then take the exact path, which counts them
            // all the same.
            look_for_two_ = found_two_ || chunks % 8 == 0;
            found_two_ = false;
            // The same for letters of three bytes, in text that has them.
            look_for_three_ = found_three_ || chunks % 8 == 0;
            found_three_ = false;
            if constexpr (sizeof(Unit) >= 2) {
                if (!three_) {
                    // Every field is written before it is read.
                    three_ = std::make_unique_for_overwrite<ThreeChunk>();
                }
            }
            if (three_) {
                // Also for a text of another form counted after one that
                // had them: no block of this chunk is classified yet.
                three_->classified = 0;
            }
            classify(units + pos, length);
            pos = walk(units, size, pos, length);
        }
        flush();
    }

    template <class Unit>
    void classify(const Unit* units, std::size_t length) {
        Chunk& chunk = *chunk_;
        const std::size_t blocks = length / 64;
        for (std::size_t b = 0; b < blocks; ++b) {
            const BlockMasks masks = classify_block(units + 64 * b, chunk.low + 64 * b);
            chunk.space[b] = masks.space;
            chunk.letter[b] = masks.letter;
            chunk.special[b] = masks.special;
            chunk.two[b] =
                masks.special == 0 || !look_for_two_ ? 0 : classify_two(units + 64 * b, 64, b);
            if constexpr (sizeof(Unit) >= 2) {
                if (look_for_three_ && (masks.special & ~chunk.two[b]) != 0) {
                    classify_three(units + 64 * b, 64, b);
                }
            }
        }
        std::size_t b = blocks;
        const std::size_t rest = length % 64;
        if (rest != 0) {
            const BlockMasks masks = classify_scalar(units + 64 * b, rest, chunk.low + 64 * b);
            // Past the end of the chunk everything reads as White_Space.
            chunk.space[b] = masks.space | ~low_bits(static_cast<unsigned>(rest));
            chunk.letter[b] = masks.letter;
            chunk.special[b] = masks.special;
            chunk.two[b] =
                masks.special == 0 || !look_for_two_ ? 0 : classify_two(units + 64 * b, rest, b);
            if constexpr (sizeof(Unit) >= 2) {
                if (look_for_three_ && (masks.special & ~chunk.two[b]) != 0) {
                    classify_three(units + 64 * b, rest, b);
                }
            }
            ++b;
        }
        for (; b < CHUNK_WORDS + 2; ++b) {
            chunk.space[b] = ~std::uint64_t{0};
            chunk.letter[b] = 0;
            chunk.special[b] = 0;
            chunk.two[b] = 0;
        }
    }

    // The `three` and `skip` masks of `count` units (of two or four bytes)
    // of block b, which has units beyond ASCII that are not letters of two
    // bytes.
    template <class Unit>
    void classify_three(const Unit* units, std::size_t count, std::size_t b) noexcept {
        ThreeChunk& chunk = *three_;
        std::uint32_t* form3 = chunk.form3 + 64 * b;
        std::uint8_t* size3 = chunk.size3 + 64 * b;
        const ThreeMasks masks = count == 64 ? classify_three_block(units, form3, size3)
                                             : classify_three_scalar(units, count, form3, size3);
        found_three_ |= masks.three != 0;
        chunk.classified |= std::uint64_t{1} << b;
        chunk.three[b] = masks.three;
        chunk.skip[b] = masks.skip;
    }

    // The letters of two bytes among `count` units of block b, with their
    // forms; none in texts of four bytes a unit or in UTF-8 (which here is
    // ASCII but for callers from C++, and takes the exact path).
    template <class Unit>
    std::uint64_t classify_two(const Unit* units, std::size_t count, std::size_t b) noexcept {
        const std::uint64_t two = classify_two_of(units, count, b);
        found_two_ |= two != 0;
        return two;
    }

    template <class Unit>
    std::uint64_t classify_two_of(const Unit* units, std::size_t count, std::size_t b) noexcept {
        std::uint16_t* form2 = chunk_->form2 + 64 * b;
        if constexpr (sizeof(Unit) == 2 || (sizeof(Unit) == 1 && !std::is_same_v<Unit, char>)) {
            return count == 64 ? classify_two_block(units, form2)
                               : classify_two_scalar(units, count, form2);
        } else {
            return 0;
        }
    }

    // Counts the pieces that start in the chunk of `length` units at `base`
    // of the text, which has `size` units; returns where the next chunk
    // starts (a White_Space character ends every piece before it).
    //
    // The pieces are found a block at a time: a piece starts at a unit that
    // is not White_Space after one that is, so the starts of a block are one
    // mask, walked with count-trailing-zeros; most pieces also end in the
    // block where they start.
    template <class Unit>
    std::size_t walk(const Unit* units, std::size_t size, std::size_t base, std::size_t length) {
        const Chunk& chunk = *chunk_;
        const bool last = base + length == size;
        const std::size_t blocks = (length + 63) / 64;
        // The unit before a chunk is White_Space (or there is none).
        std::uint64_t carry = 1;
        // Pieces that start before `resume` were taken by the exact path.
        std::size_t resume = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::uint64_t spaces = chunk.space[b];
            std::uint64_t starts = ~spaces & (spaces << 1 | carry);
            carry = spaces >> 63;
            // A piece may go on into the next block: each mask is read
            // through a window of 64 units from the piece's start.
            const std::uint64_t spaces_after = chunk.space[b + 1];
            const std::uint64_t letters_here = chunk.letter[b];
            const std::uint64_t letters_after = chunk.letter[b + 1];
            const std::uint64_t special_here = chunk.special[b];
            const std::uint64_t special_after = chunk.special[b + 1];
            const std::uint64_t two_here = chunk.two[b];
            const std::uint64_t two_after = chunk.two[b + 1];
            for (; starts != 0; starts &= starts - 1) {
                const auto offset = static_cast<unsigned>(__builtin_ctzll(starts));
                const std::size_t start = 64 * b + offset;
                if (start < resume) [[unlikely]] {
                    continue;
                }
                // x << 1 << (63 - offset): no shift by 64 when offset is 0.
                const unsigned back = 63 - offset;
                const std::uint64_t ahead = spaces >> offset | spaces_after << 1 << back;
                const std::uint64_t letters = letters_here >> offset | letters_after << 1 << back;
                const std::uint64_t special = special_here >> offset | special_after << 1 << back;
                const std::uint64_t two = two_here >> offset | two_after << 1 << back;
                const auto piece = static_cast<unsigned>(ahead == 0 ? 64 : __builtin_ctzll(ahead));
                const std::uint64_t inside = low_bits(piece);
                if (ahead == 0 || (special & ~two & inside) != 0 ||
                    (start + piece == length && !last)) [[unlikely]] {
                    if constexpr (sizeof(Unit) >= 2) {
                        // Most pieces of CJK text: shorter than a block,
                        // their letters of three bytes and ASCII.
                        if (ahead != 0 && found_three_ && (two & inside) == 0 &&
                            start + piece != length &&
                            three_piece(b, offset, piece, special & inside)) {
                            continue;
                        }
                    }
                    const std::size_t next =
                        other_pieces(units, size, base, length, start, ahead == 0);
                    if (next > base + length) {
                        return next;
                    }
                    resume = next - base;
                    continue;
                }
                if ((two & inside) == 0) [[likely]] {
                    count_ascii_piece(chunk, start, letters & inside);
                } else {
                    count_two_piece(chunk, start, letters & inside, two & inside);
                }
            }
        }
        return base + length;
    }

    // Counts the piece of `piece` units at `offset` of block b of the chunk,
    // which has no letters of two bytes and its units beyond ASCII at
    // `special` (from its start), if all are letters of three bytes or
    // skipped; returns whether it did.
    bool three_piece(std::size_t b, unsigned offset, unsigned piece, std::uint64_t special) {
        const ThreeChunk& wide = *three_;
        const bool across = offset + piece > 64;
        const std::uint64_t blocks = across ? 3 : 1;
        if ((wide.classified >> b & blocks) != blocks) {
            return false;
        }
        std::uint64_t known = (wide.three[b] | wide.skip[b]) >> offset;
        if (across) {
            known |= (wide.three[b + 1] | wide.skip[b + 1]) << (64 - offset);
        }
        if ((special & ~known) != 0) {
            return false;
        }
        const std::size_t start = 64 * b + offset;
        char* out = word_.data();  // room for 3 * 64 bytes and more
        for (std::size_t k = start; k < start + piece; ++k) {
            std::memcpy(out, wide.form3 + k, 4);
            out += wide.size3[k];
        }
        count_gathered(static_cast<std::size_t>(out - word_.data()));
        return true;
    }

    // Counts the piece at `start` of the chunk at `base`, which the walk
    // does not take: a long piece, or one with letters of three bytes, may
    // still be one the masks can take; any other takes the exact path, which
    // ends at the piece's real end. Returns where the pieces of the masks
    // take over again (in the text).
    template <class Unit>
    std::size_t other_pieces(const Unit* units, std::size_t size, std::size_t base,
                             std::size_t length, std::size_t start, bool long_piece) {
        if (long_piece || found_three_) {
            const std::size_t end = masked_piece(start, length, base + length == size);
            if (end != 0) {
                return base + end;
            }
        }
        return exact_pieces(units, size, base, length, start);
    }

    // Counts the piece at `start` of the chunk, of any length, from the
    // chunk's masks and forms, if it ends in the chunk (or the text) and
    // holds nothing that is not ASCII but letters of `two` and `three` and
    // characters of `skip`; returns where it ends, or 0 if it does not
    // qualify.
    std::size_t masked_piece(std::size_t start, std::size_t length, bool last) {
        const Chunk& chunk = *chunk_;
        const std::size_t first = start / 64;
        std::size_t b = first;
        std::uint64_t spaces = chunk.space[b] & ~low_bits(static_cast<unsigned>(start % 64));
        while (spaces == 0) {
            spaces = chunk.space[++b];  // the blocks past the chunk are White_Space
        }
        const std::size_t end = 64 * b + static_cast<std::size_t>(__builtin_ctzll(spaces));
        if (end >= length && !last) {
            return 0;  // it may go on in the next chunk
        }
        const std::size_t final = (end - 1) / 64;
        // Texts of one byte a unit, and UTF-8, have no ThreeChunk; the
        // masks of three are those of the blocks classified.
        const ThreeChunk* wide = three_.get();
        const std::uint64_t classified = wide != nullptr ? wide->classified : 0;
        const auto three_of = [wide, classified](std::size_t block) {
            return (classified >> block & 1) != 0 ? wide->three[block] : 0;
        };
        std::uint64_t other = 0;
        bool has_two = false;
        for (b = first; b <= final; ++b) {
            const std::uint64_t inside = piece_bits(b, start, end);
            const std::uint64_t skip = (classified >> b & 1) != 0 ? wide->skip[b] : 0;
            other |= chunk.special[b] & ~(chunk.two[b] | three_of(b) | skip) & inside;
            has_two |= (chunk.two[b] & inside) != 0;
        }
        if (other != 0) {
            return 0;
        }
        const std::size_t room = 3 * (end - start) + WORD_MARGIN;
        if (word_.size() < room) {
            word_.resize(std::max(room, 2 * word_.size()));
        }
        char* out = word_.data();
        const std::uint64_t blocks = low_bits(static_cast<unsigned>(final - first + 1));
        if ((classified >> first & blocks) == blocks && !has_two) {
            // Every unit has its form, of 0 to 3 bytes: one store each.
            for (std::size_t k = start; k < end; ++k) {
                std::memcpy(out, wide->form3 + k, 4);
                out += wide->size3[k];
            }
            count_gathered(static_cast<std::size_t>(out - word_.data()));
            return end;
        }
        for (b = first; b <= final; ++b) {
            const std::uint64_t inside = piece_bits(b, start, end);
            const std::uint64_t letters = chunk.letter[b] & inside;
            const std::uint64_t two = chunk.two[b] & inside;
            const std::uint64_t three = three_of(b) & inside;
            // Runs of one kind at a time: ASCII and letters of two bytes
            // are copied as they lie, letters of three bytes in steps of 4
            // bytes from their forms.
            for (std::uint64_t rest = letters | two | three; rest != 0;) {
                const auto k = static_cast<unsigned>(__builtin_ctzll(rest));
                const std::uint64_t kind = (three >> k & 1) != 0 ? three
                                           : (two >> k & 1) != 0 ? two
                                                                 : letters;
                const std::uint64_t after = ~(kind >> k);
                const unsigned n = after == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(after));
                rest &= ~(low_bits(n) << k);
                const std::size_t at = 64 * b + k;
                if (kind == three) {
                    for (unsigned j = 0; j < n; ++j) {
                        std::memcpy(out + 3 * j, wide->form3 + at + j, 4);
                    }
                    out += 3 * n;
                } else if (kind == two) {
                    copy_run(out, chunk.form2 + at, 2 * n);
                } else {
                    copy_run(out, chunk.low + at, n);
                }
            }
        }
        count_gathered(static_cast<std::size_t>(out - word_.data()));
        return end;
    }

    // The bits of block b inside the piece [start, end) of the chunk.
    static std::uint64_t piece_bits(std::size_t b, std::size_t start, std::size_t end) noexcept {
        const std::size_t from = std::max(start, 64 * b) - 64 * b;
        const std::size_t to = std::min(end, 64 * b + 64) - 64 * b;
        return low_bits(static_cast<unsigned>(to)) & ~low_bits(static_cast<unsigned>(from));
    }

    // Copies `n` bytes from `from`, 16 at a time: both sides have room.
    static void copy_run(char*& out, const void* from, std::size_t n) noexcept {
        const auto* bytes = static_cast<const unsigned char*>(from);
        for (std::size_t j = 0; j < n; j += 16) {
            std::memcpy(out + j, bytes + j, 16);
        }
        out += n;
    }

    // A piece at `start` of the chunk of ASCII and letters of two bytes
    // (the set bits of `two`), with its ASCII letters at the set bits of
    // `letters`. A word of one script is a run of forms in form2.
    void count_two_piece(const Chunk& chunk, std::size_t start, std::uint64_t letters,
                         std::uint64_t two) {
        const auto first = static_cast<unsigned>(__builtin_ctzll(two));
        const std::uint64_t run = two >> first;
        if (letters == 0 && (run & (run + 1)) == 0) {
            const auto bytes = 2 * static_cast<unsigned>(__builtin_ctzll(~run));
            const auto* p = reinterpret_cast<const unsigned char*>(chunk.form2 + start + first);
            if (bytes <= WordTable::SHORT_BYTES) {
                push_slice(p, bytes);
            } else {
                count_word({reinterpret_cast<const char*>(p), bytes});
            }
            return;
        }
        const unsigned char* low = chunk.low + start;
        const std::uint16_t* form2 = chunk.form2 + start;
        if (GATHERS && ((letters | two) >> 16) == 0) {
            count_gathered(gather_letters(low, form2, static_cast<unsigned>(letters),
                                          static_cast<unsigned>(two), word_.data()));
            return;
        }
        char* out = word_.data();
        for (std::uint64_t rest = letters | two; rest != 0; rest &= rest - 1) {
            const auto k = static_cast<unsigned>(__builtin_ctzll(rest));
            if ((two >> k & 1) != 0) {
                std::memcpy(out, form2 + k, 2);
                out += 2;
            } else {
                *out++ = static_cast<char>(low[k]);
            }
        }
        add_word(static_cast<std::size_t>(out - word_.data()));
    }

    // Counts, by the exact path, the piece at `start` of the chunk at
    // `base`, and those after it that the chunk's masks do not show as
    // pieces: a piece that follows White_Space that is not ASCII. Returns
    // where the pieces of the masks take over again (in the text).
    template <class Unit>
    std::size_t exact_pieces(const Unit* units, std::size_t size, std::size_t base,
                             std::size_t length, std::size_t start) {
        const Chunk& chunk = *chunk_;
        const auto is_space = [&](std::size_t at) {
            return (chunk.space[at / 64] >> (at % 64) & 1) != 0;
        };
        std::size_t next = exact_piece(units, size, base + start);
        while (next < base + length && !is_space(next - base - 1) && !is_space(next - base)) {
            next = exact_piece(units, size, next);
        }
        return next;
    }

    // A piece of ASCII at `start` of the chunk whose letters are the set
    // bits of `letters` (relative to `start`).
    void count_ascii_piece(const Chunk& chunk, std::size_t start, std::uint64_t letters) {
        // A piece has at most 63 units here, so bit 63 stands in for "no
        // letter" (a run of one, too short to count).
        const auto first = static_cast<unsigned>(__builtin_ctzll(letters | std::uint64_t{1} << 63));
        const std::uint64_t run = letters >> first | (letters == 0 ? 1 : 0);
        const auto n = static_cast<unsigned>(__builtin_ctzll(~run));
        const unsigned char* from = chunk.low + start;
        if ((run & (run + 1)) != 0 || n > WordTable::SHORT_BYTES) [[unlikely]] {
            if (GATHERS && (letters >> 16) == 0) {
                count_gathered(gather_letters(from, chunk.form2 + start,
                                              static_cast<unsigned>(letters), 0, word_.data()));
                return;
            }
            char* out = word_.data();
            for (std::uint64_t rest = letters; rest != 0; rest &= rest - 1) {
                *out++ = static_cast<char>(from[__builtin_ctzll(rest)]);
            }
            add_word(static_cast<std::size_t>(out - word_.data()));
            return;
        }
        // One run of letters: the word is a slice of the lowercase bytes.
        push_slice(from + first, n);
    }

    // ------------------------------------------------------------------
    // The exact path: one piece, character by character.

    // Counts the piece that starts at byte `start` of a UTF-8 text (not
    // White_Space) and returns the offset after the White_Space character
    // that ends it, or the text's size. The letters are lowercased character
    // by character into word_, written through a pointer with room for one
    // more character's form at every step. A capital sigma, whose form
    // depends on the letters around it, sends the piece to
    // lower_with_sigma.
    std::size_t exact_piece(const char* data, std::size_t size, std::size_t start) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        char* out = word_.data();
        char* limit = word_limit();
        bool sigma = false;
        std::size_t i = start;
        std::size_t end = size;  // where the piece's White_Space starts
        std::size_t next = size;
        while (i < size) {
            if (out > limit) {
                grow_word(out, limit);
            }
            const unsigned char byte = bytes[i];
            if (byte < 0x80) {
                const std::uint8_t cls = ASCII_CLASSES[byte];
                if (cls == LETTER) {
                    *out++ = static_cast<char>(byte | 0x20);
                } else if (cls == SPACE) {
                    end = i;
                    next = i + 1;
                    break;
                }
                ++i;
                continue;
            }
            const text::Utf8Char ch = text::decode_utf8(data + i);
            if (ch.length == 2) {
                if (const std::size_t written = text::lower_two_byte_letter(ch.cp, out)) {
                    out += written;
                    i += 2;
                    continue;
                }
            } else if (text::is_plain_letter(ch.cp)) {
                std::memcpy(out, data + i, 3);  // three bytes, as they are
                out += 3;
                i += 3;
                continue;
            }
            if (is_white_space(ch.cp)) {
                end = i;
                next = i + ch.length;
                break;
            }
            const text::CharInfo info = text::char_info(ch.cp);
            if (info.is_alphabetic()) {
                sigma |= info.is_capital_sigma();
                text::append_lower(out, ch.cp, info);
            }
            i += ch.length;
        }
        if (sigma) {
            lower_with_sigma(text::TextView::utf8({data + start, end - start}));
        } else {
            add_word(static_cast<std::size_t>(out - word_.data()));
        }
        return next;
    }

    // The same for a text of one code point a unit.
    template <class Unit>
    std::size_t exact_piece(const Unit* units, std::size_t size, std::size_t start) {
        char* out = word_.data();
        char* limit = word_limit();
        bool sigma = false;
        std::size_t i = start;
        for (; i < size; ++i) {
            if (out > limit) {
                grow_word(out, limit);
            }
            if constexpr (LETTER_RUNS && sizeof(Unit) <= 2) {
                if (i + 8 <= size) {
                    const std::size_t taken = letter_runs(units + i, out);
                    if (taken != 0) {
                        i += taken - 1;
                        continue;
                    }
                }
            }
            const char32_t cp = units[i];
            if (cp < 0x80) {
                const std::uint8_t cls = ASCII_CLASSES[cp];
                if (cls == LETTER) {
                    *out++ = static_cast<char>(cp | 0x20);
                } else if (cls == SPACE) {
                    break;
                }
                continue;
            }
            if (cp < text::tables::LOWERCASE_TWO_BYTE_UNTIL) {
                if (const std::size_t written = text::lower_two_byte_letter(cp, out)) {
                    out += written;
                    continue;
                }
            } else if (text::is_plain_letter(cp)) {
                out += text::encode_utf8(cp, out);
                continue;
            }
            if (is_white_space(cp)) {
                break;
            }
            const text::CharInfo info = text::char_info(cp);
            if (info.is_alphabetic()) {
                sigma |= info.is_capital_sigma();
                text::append_lower(out, cp, info);
            }
        }
        if (sigma) {
            lower_with_sigma(fixed_view(units + start, i - start));
        } else {
            add_word(static_cast<std::size_t>(out - word_.data()));
        }
        return i + 1;  // past the White_Space character, or the end
    }

    bool look_for_two_ = true;
    bool found_two_ = false;
    bool look_for_three_ = true;
    bool found_three_ = false;
    std::unique_ptr<Chunk> chunk_;
    std::unique_ptr<ThreeChunk> three_;  // for texts of two or four bytes a unit
};

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET

namespace parvenkel::kernels {

template <>
std::unique_ptr<WordWalker> make_word_walker_with<PARVENKEL_SET_KERNELS>(
    const std::vector<std::string>& stop_words, std::uint64_t seed, std::size_t text_bytes) {
    return std::make_unique<PARVENKEL_SET::Walker>(stop_words, seed, text_bytes);
}

}  // namespace parvenkel::kernels
