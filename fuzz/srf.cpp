// The SRF reader, and the fault built from what it accepts.
#include "model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  fuzz::check_model(trislip::read_srf_model, fuzz::text_of(data, size), "model.srf");
  return 0;
}
