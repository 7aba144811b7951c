// The resources linked into the POSIX launcher: a table written at build
// time by resources/embed.py, read by the POSIX backend's findResource.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorvanta {

struct EmbeddedResource {
  uint16_t id;
  const uint8_t* data;
  size_t size;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

}  // namespace quorvanta
