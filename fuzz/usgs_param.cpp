// The USGS .param reader, and the fault built from what it accepts.
#include "model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  fuzz::check_model(trislip::read_usgs_param, fuzz::text_of(data, size), "model.param");
  return 0;
}
