#pragma once

#include <cstdint>
#include <string>

// Editors: the text of one number as it appears in a record. They are pure
// functions of the value and know nothing of units or files.
namespace trislip {

// Fw.d: the magnitude with d decimals, right-justified in w characters.
// Writes exactly w characters to field (not terminated).
void edit_f(char* field, double x, int w, int d);

// Ew.d with a two-digit exponent: 0.d1..dd, then E+ee (or +eee / -eee when
// the exponent needs three digits). Writes exactly w characters to field.
void edit_e(char* field, double x, int w, int d);

// List-directed items, with the leading blank (and sign column) they bring.
std::string list_real(double x);
std::string list_integer(std::int32_t n);

}  // namespace trislip
