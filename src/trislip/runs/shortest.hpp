#pragma once

// The shortest text of a double that reads back as the same double, as
// std::to_chars(first, last, x) writes it: the fewest significant digits
// (the nearest such decimal where several have that many), then fixed or
// scientific notation, whichever is shorter, fixed on a tie. The digits
// come from Dragonbox, which finds them in a fraction of the time; values
// outside the range where both notations are simple to lay out (zeros,
// non-finite values, magnitudes from 2^53 on, whose fixed text
// std::to_chars may spell out exactly) go to std::to_chars itself.
namespace trislip {

// Writes the text (at most 24 bytes) at p and returns its end; p needs
// 32 bytes of room, as the digits are written in whole words.
char* shortest_chars(char* p, double x);

}  // namespace trislip
