// Prints src/trislip/sin_cos_table.inc: sin and cos of j / 256 for j = 0 to
// 1024 as double-doubles, summed by correctly_rounded's Taylor series, one
// line an entry {s.hi, s.lo, c.hi, c.lo} in hexadecimal, which every
// compiler reads back to the same doubles. The library takes the table
// from that file instead of summing 1,025 series at the start of every
// run; the test correctly_rounded.the_table_is_the_series checks it.
//
//   trislip_sin_cos_table > src/trislip/sin_cos_table.inc
#include <cstdio>

#include "trislip/correctly_rounded.hpp"

int main() {
  namespace cr = trislip::correctly_rounded;
  std::printf("// sin and cos of j / 256, j = 0 to 1024, as double-doubles {s.hi, s.lo, c.hi, c.lo}:\n"
              "// made by tools/sin_cos_table.cpp from the Taylor series; do not edit.\n");
  for (int j = 0; j < cr::table_size; ++j) {
    cr::dd c, s;
    cr::cos_sin_dd(j / 256.0, c, s);
    std::printf("{%a, %a, %a, %a},\n", s.hi, s.lo, c.hi, c.lo);
  }
  return 0;
}
