// Everything the code of generic/ uses, but the kernels of an instruction
// set. generic/searches.hpp and generic/word_walker.hpp have no includes of
// their own, since each set's unit includes them inside its namespace (and
// target region): that unit includes this header first, outside both, so
// that no shared inline function is compiled inside a target region.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "kernels/isa.hpp"
#include "kernels/search_parts.hpp"
#include "kernels/searches.hpp"
#include "kernels/word_classes.hpp"
#include "kernels/word_sink.hpp"
#include "kernels/word_walker.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"
