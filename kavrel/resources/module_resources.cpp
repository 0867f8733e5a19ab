#include "kavrel/resources/module_resources.h"

namespace kavrel::resources {
namespace {

class EmbeddedSource final : public ResourceSource {
 public:
  ResourceBytes Find(uint32_t id, std::string_view type) const override {
    for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
      const EmbeddedResource& r = kEmbeddedResources[i];
      if (r.id == id && type == r.type) return ResourceBytes{r.data, r.size};
    }
    return {};
  }
};

}  // namespace

const ResourceSource& module_resources() {
  static const EmbeddedSource source;
  return source;
}

}  // namespace kavrel::resources
