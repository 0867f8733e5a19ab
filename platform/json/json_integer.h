// Integers read from JSON. cJSON keeps every number as a double; converting a double that the
// integer type cannot hold is undefined behaviour, and a number with a fraction is not an
// integer. Every integer taken from a JSON document (above all one that came over the network)
// is read through json_integer, which refuses both instead of guessing.
#pragma once

#include <cjson/cJSON.h>

#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

namespace platform {

// The integer `value` stands for, when it is finite, has no fraction and fits `Int`.
template <class Int>
std::optional<Int> integer_from_double(double value) {
  static_assert(std::is_integral_v<Int> && !std::is_same_v<Int, bool>, "an integer type");
  if (!std::isfinite(value) || value != std::trunc(value)) return std::nullopt;
  // Both bounds are powers of two, so they are exact doubles: [-2^digits, 2^digits) for signed
  // types, [0, 2^digits) for unsigned ones.
  const double end = std::ldexp(1.0, std::numeric_limits<Int>::digits);
  const double start = std::is_signed_v<Int> ? -end : 0.0;
  if (value < start || value >= end) return std::nullopt;
  return static_cast<Int>(value);
}

// The item's value when it is a JSON number that is an integer `Int` can hold; nothing for a
// missing item, another type, a fraction or a value out of range.
template <class Int>
std::optional<Int> json_integer(const cJSON* item) {
  if (!cJSON_IsNumber(item)) return std::nullopt;
  return integer_from_double<Int>(item->valuedouble);
}

// The named member of `object`, read as json_integer does.
template <class Int>
std::optional<Int> json_integer_member(const cJSON* object, const char* name) {
  return json_integer<Int>(cJSON_GetObjectItemCaseSensitive(object, name));
}

}  // namespace platform
