// Many queries in one call: each answered as rank answers it, the queries
// shared out between worker threads.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/index.hpp"
#include "util/parallel.hpp"

namespace parvenkel::index {

std::vector<std::vector<Ranked>> ArticleIndex::rank_many(const std::vector<text::TextView>& queries,
                                                         std::uint64_t top_n, bool include_zero,
                                                         unsigned workers) const {
    std::vector<std::vector<Ranked>> results(queries.size());
    // One query at a time: each takes from microseconds (a rare word) to
    // milliseconds (a common one), so handing them out singly keeps the
    // threads busy to the end.
    util::parallel_for(queries.size(), workers, [&](unsigned, std::size_t k) {
        results[k] = rank(queries[k], top_n, include_zero);
    });
    return results;
}

}  // namespace parvenkel::index
