#include "corpus/corpus.hpp"

#include <sched.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "analysis/word_counting.hpp"
#include "text/char_classes.hpp"
#include "text/char_classes_inl.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "util/varint.hpp"

namespace parvenkel::corpus {

unsigned worker_count(long long requested) noexcept {
    if (requested > 0) {
        return static_cast<unsigned>(std::min<long long>(requested, 1024));
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int cpus = CPU_COUNT(&set);
        if (cpus > 0) {
            return static_cast<unsigned>(cpus);
        }
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<WordCountView> most_common(const analysis::WordTable& table, std::uint64_t top_n) {
    std::vector<WordCountView> entries;
    entries.reserve(table.size());
    table.for_each([&](std::string_view word, std::uint64_t count) {
        entries.push_back({word, count});
    });
    if (top_n < entries.size()) {
        const auto cut = entries.begin() + static_cast<std::ptrdiff_t>(top_n);
        std::partial_sort(entries.begin(), cut, entries.end(), by_count_then_word);
        entries.erase(cut, entries.end());
    } else {
        std::sort(entries.begin(), entries.end(), by_count_then_word);
    }
    return entries;
}

namespace {

// Below this many bytes of text in all, counting stays on the calling
// thread: starting threads would cost more than they save.
constexpr std::size_t PARALLEL_BYTES = 256 * 1024;
// Texts are cut into pieces of about this many code units, so that one
// large text keeps every worker busy.
constexpr std::size_t PIECE_UNITS = 1 << 20;

text::TextView slice(text::TextView text, std::size_t begin, std::size_t end) noexcept {
    return {static_cast<const char*>(text.data) + begin * text::unit_bytes(text.form), end - begin,
            text.form};
}

// Cuts `text` into pieces of about PIECE_UNITS, each ending just after an
// ASCII White_Space character: no word spans two pieces, so counting them
// apart gives the counts of the whole. (In UTF-8 an ASCII byte is always a
// character of its own.)
void cut_into_pieces(text::TextView text, std::vector<text::TextView>& pieces) {
    std::size_t begin = 0;
    while (text.length - begin > PIECE_UNITS) {
        std::size_t end = text.visit([&]<class View>(View units) {
            for (std::size_t i = begin + PIECE_UNITS; i < units.size(); ++i) {
                if (units[i] <= 0x20 &&
                    text::detail::is_ascii_white_space(static_cast<unsigned char>(units[i]))) {
                    return i + 1;
                }
            }
            return units.size();
        });
        pieces.push_back(slice(text, begin, end));
        begin = end;
    }
    if (begin < text.length) {
        pieces.push_back(slice(text, begin, text.length));
    }
}

// ---------------------------------------------------------------------------
// The serialised form: the magic "PVWC", a version byte, then unsigned
// LEB128 numbers and byte strings:
//   stop word count, then each stop word as length and bytes, in byte order;
//   word count, then each word as length, bytes and count, in byte order.

constexpr std::string_view BLOB_MAGIC = "PVWC\x01";

void put_number(std::string& out, std::uint64_t value) { util::put_varint(out, value); }

void put_bytes(std::string& out, std::string_view bytes) {
    put_number(out, bytes.size());
    out.append(bytes);
}

class BlobReader {
   public:
    explicit BlobReader(std::string_view blob) : rest_(blob) {}

    std::uint64_t number() {
        const auto* p = reinterpret_cast<const unsigned char*>(rest_.data());
        std::uint64_t value = 0;
        switch (util::read_varint_checked(p, p + rest_.size(), value)) {
            case util::VarintStatus::ok:
                break;
            case util::VarintStatus::truncated:
                throw BlobError("truncated");
            case util::VarintStatus::too_large:
                throw BlobError("number out of range");
            case util::VarintStatus::overlong:
                throw BlobError("number not in its shortest form");
        }
        rest_.remove_prefix(
            static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(rest_.data())));
        return value;
    }

    std::string_view bytes() {
        const std::uint64_t size = number();
        if (size > rest_.size()) {
            throw BlobError("truncated");
        }
        const std::string_view out = rest_.substr(0, static_cast<std::size_t>(size));
        rest_.remove_prefix(static_cast<std::size_t>(size));
        return out;
    }

    std::size_t left() const noexcept { return rest_.size(); }

   private:
    std::string_view rest_;
};

}  // namespace

Counts::Counts(std::vector<std::string> stop_words)
    : stop_words_(std::move(stop_words)), table_(analysis::random_hash_seed(), 0) {
    std::sort(stop_words_.begin(), stop_words_.end());
    stop_words_.erase(std::unique(stop_words_.begin(), stop_words_.end()), stop_words_.end());
    for (const std::string& word : stop_words_) {
        if (word.size() >= analysis::MIN_KEYWORD_BYTES) {
            table_.add_stop_word(word);
        }
    }
}

void Counts::add_tables(const std::vector<const analysis::WordTable*>& tables) {
    std::uint64_t incoming = 0;
    for (const analysis::WordTable* table : tables) {
        table->for_each([&](std::string_view, std::uint64_t count) {
            incoming += std::min(count, MAX_TOTAL + 1);
            incoming = std::min(incoming, MAX_TOTAL + 1);
        });
    }
    if (incoming > MAX_TOTAL - total_) {
        throw std::overflow_error("word counts too large");
    }
    table_.reserve_for(tables);  // the last step that may fail
    for (const analysis::WordTable* table : tables) {
        total_ += table_.merge_from(*table);
    }
}

Tally count_texts(const std::vector<std::string>& stop_words,
                  const std::vector<text::TextView>& texts, unsigned workers) {
    std::size_t bytes = 0;
    for (const text::TextView& text : texts) {
        bytes += analysis::estimated_utf8_bytes(text);
    }
    std::vector<text::TextView> pieces;
    if (workers > 1 && bytes >= PARALLEL_BYTES) {
        for (const text::TextView& text : texts) {
            cut_into_pieces(text, pieces);
        }
        workers = static_cast<unsigned>(std::min<std::size_t>(workers, pieces.size()));
    } else {
        pieces = texts;
        workers = 1;
    }
    Tally tally;
    tally.counters.resize(std::max(workers, 1u));
    const std::size_t share = bytes / std::max(workers, 1u);
    parallel_for(pieces.size(), workers, [&](unsigned worker, std::size_t item) {
        auto& counter = tally.counters[worker];
        if (!counter) {
            counter = std::make_unique<analysis::WordCounting>(stop_words,
                                                               analysis::random_hash_seed(), share);
        }
        counter->count(pieces[item]);
    });
    return tally;
}

void Counts::add(Tally& tally) {
    std::vector<const analysis::WordTable*> tables;
    analysis::WordTable* only = nullptr;
    for (const auto& counter : tally.counters) {
        if (counter) {
            only = &counter->table();
            tables.push_back(only);
        }
    }
    if (tables.size() == 1 && table_.size() == 0) {
        // Counts of one worker into counts that hold no word yet (the stop
        // words are the same): its table becomes theirs, as keyword
        // extraction keeps the table it counted into, instead of a copy of
        // every word into a second table.
        std::uint64_t incoming = 0;
        only->for_each([&](std::string_view, std::uint64_t count) {
            incoming = std::min(incoming + std::min(count, MAX_TOTAL + 1), MAX_TOTAL + 1);
        });
        if (incoming > MAX_TOTAL - total_) {
            throw std::overflow_error("word counts too large");
        }
        table_.swap(*only);
        total_ += incoming;
        return;
    }
    add_tables(tables);
}

void Counts::merge(const Counts& other) { add_tables({&other.table_}); }

std::string Counts::to_blob() const {
    const std::vector<WordCountView> words = [this] {
        std::vector<WordCountView> entries;
        entries.reserve(table_.size());
        table_.for_each([&](std::string_view word, std::uint64_t count) {
            entries.push_back({word, count});
        });
        std::sort(entries.begin(), entries.end(),
                  [](const WordCountView& a, const WordCountView& b) { return a.word < b.word; });
        return entries;
    }();
    std::string out(BLOB_MAGIC);
    put_number(out, stop_words_.size());
    for (const std::string& word : stop_words_) {
        put_bytes(out, word);
    }
    put_number(out, words.size());
    for (const WordCountView& entry : words) {
        put_bytes(out, entry.word);
        put_number(out, entry.count);
    }
    return out;
}

namespace {

// Whether `word` (valid UTF-8) is a word as counting leaves it: Alphabetic
// characters in their lowercase form, so that no text could count "ABC",
// "a c" or "123". Lowercasing keeps a letter Alphabetic but for one
// mapping: U+0130 LATIN CAPITAL LETTER I WITH DOT ABOVE becomes "i" and
// U+0307 COMBINING DOT ABOVE, which is not Alphabetic (counting drops a
// U+0307 of the text itself), so U+0307 is taken only after that "i".
bool is_counted_form(std::string_view word) noexcept {
    constexpr char32_t CAPITAL_I_WITH_DOT = 0x130;
    const text::LowerMapping dotted_i = text::to_lower(CAPITAL_I_WITH_DOT);
    char32_t previous = 0;
    for (std::size_t at = 0; at < word.size();) {
        const text::Utf8Char c = text::decode_utf8(word.data() + at);
        at += c.length;
        const text::LowerMapping lower = text::to_lower(c.cp);
        const bool lowercase = lower.len == 1 && lower.cp[0] == c.cp;
        const bool from_dotted_i =
            dotted_i.len == 2 && previous == dotted_i.cp[0] && c.cp == dotted_i.cp[1];
        if (!(text::is_alphabetic(c.cp) ? lowercase : from_dotted_i)) {
            return false;
        }
        previous = c.cp;
    }
    return true;
}

}  // namespace

std::unique_ptr<Counts> Counts::from_blob(std::string_view blob) {
    if (!blob.starts_with(BLOB_MAGIC)) {
        throw BlobError("not a WordCounter blob of this version");
    }
    BlobReader reader(blob.substr(BLOB_MAGIC.size()));
    // Each entry takes at least one byte (stop words) or five (words): a
    // count beyond that is refused before anything is reserved for it.
    const std::uint64_t stop_count = reader.number();
    if (stop_count > reader.left()) {
        throw BlobError("truncated");
    }
    std::vector<std::string> stop_words;
    stop_words.reserve(static_cast<std::size_t>(stop_count));
    for (std::uint64_t k = 0; k < stop_count; ++k) {
        const std::string_view word = reader.bytes();
        if (!text::is_valid_utf8(word)) {
            throw BlobError("a stop word is not UTF-8");
        }
        if (!stop_words.empty() && word <= stop_words.back()) {
            throw BlobError("stop words out of order");
        }
        stop_words.emplace_back(word);
    }
    auto owned = std::make_unique<Counts>(std::move(stop_words));
    Counts& counts = *owned;
    const std::uint64_t word_count = reader.number();
    if (word_count > reader.left() / 5) {
        throw BlobError("truncated");
    }
    std::string_view previous;
    for (std::uint64_t k = 0; k < word_count; ++k) {
        const std::string_view word = reader.bytes();
        const std::uint64_t count = reader.number();
        if (word.size() < analysis::MIN_KEYWORD_BYTES || !text::is_valid_utf8(word) ||
            !is_counted_form(word)) {
            throw BlobError("not a counted word");
        }
        if (k > 0 && word <= previous) {
            throw BlobError("words out of order");
        }
        if (count == 0 || count > MAX_TOTAL - counts.total_) {
            throw BlobError("count out of range");
        }
        if (counts.table_.is_stop_word(word)) {
            throw BlobError("a counted word is a stop word");
        }
        counts.table_.add_count(word, count);
        counts.total_ += count;
        previous = word;
    }
    if (reader.left() != 0) {
        throw BlobError("bytes after the end");
    }
    return owned;
}

std::vector<TextKeywords> keywords_many(const std::vector<text::TextView>& texts,
                                        const std::vector<std::string>& stop_words,
                                        std::uint64_t top_n, unsigned workers) {
    std::vector<TextKeywords> results(texts.size());
    parallel_for(texts.size(), workers, [&](unsigned, std::size_t item) {
        analysis::WordCounting counter(stop_words, analysis::random_hash_seed(),
                                       analysis::estimated_utf8_bytes(texts[item]));
        counter.count(texts[item]);
        // The words are copied out of the table into one string of their
        // exact size: many results are alive at once.
        TextKeywords& result = results[item];
        result.pairs = most_common(counter.table(), top_n);
        std::size_t bytes = 0;
        for (const WordCountView& entry : result.pairs) {
            bytes += entry.word.size();
        }
        result.store.reserve(bytes);
        for (WordCountView& entry : result.pairs) {
            const std::size_t at = result.store.size();
            result.store.append(entry.word);
            entry.word = std::string_view(result.store).substr(at, entry.word.size());
        }
    });
    return results;
}

std::vector<std::size_t> rank_positions(const std::vector<double>& scores, std::uint64_t top_n,
                                        bool include_zero) {
    const auto kept = [&](std::size_t i) { return include_zero || scores[i] > 0.0; };
    // Scores take a handful of values (score_article gives six): then the
    // positions of each value, in order, are the ranking, with no sort.
    constexpr std::size_t FEW = 8;
    double values[FEW];
    std::size_t counts[FEW] = {};
    std::size_t distinct = 0;
    std::size_t total = 0;
    for (std::size_t i = 0; i < scores.size() && distinct <= FEW; ++i) {
        if (!kept(i)) {
            continue;
        }
        const std::size_t v =
            static_cast<std::size_t>(std::find(values, values + distinct, scores[i]) - values);
        if (v == distinct && distinct++ < FEW) {
            values[v] = scores[i];
        }
        if (v < FEW) {
            ++counts[v];
        }
        ++total;
    }
    if (distinct <= FEW) {
        std::size_t order[FEW];
        for (std::size_t v = 0; v < distinct; ++v) {
            order[v] = v;
        }
        std::sort(order, order + distinct,
                  [&](std::size_t a, std::size_t b) { return values[a] > values[b]; });
        std::size_t next[FEW];  // where the next position of each value goes
        for (std::size_t k = 0, at = 0; k < distinct; at += counts[order[k]], ++k) {
            next[order[k]] = at;
        }
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(top_n, total));
        std::vector<std::size_t> positions(size);
        for (std::size_t i = 0; i < scores.size(); ++i) {
            if (kept(i)) {
                const std::size_t v = static_cast<std::size_t>(
                    std::find(values, values + distinct, scores[i]) - values);
                if (const std::size_t slot = next[v]++; slot < size) {
                    positions[slot] = i;
                }
            }
        }
        return positions;
    }
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (kept(i)) {
            positions.push_back(i);
        }
    }
    const auto better = [&](std::size_t a, std::size_t b) {
        return scores[a] != scores[b] ? scores[a] > scores[b] : a < b;
    };
    if (top_n < positions.size()) {
        const auto cut = positions.begin() + static_cast<std::ptrdiff_t>(top_n);
        std::partial_sort(positions.begin(), cut, positions.end(), better);
        positions.erase(cut, positions.end());
    } else {
        std::sort(positions.begin(), positions.end(), better);
    }
    return positions;
}

}  // namespace parvenkel::corpus
