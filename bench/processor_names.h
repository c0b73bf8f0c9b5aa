// The processor as both timing programs name it in their runs: "AMD family
// 0x1a model 0x02 stepping 1", and its caches as the module decodes them.
#pragma once

#include <cstdio>
#include <string>

#include "Veilshift/processor_features.h"

namespace benchnames {

inline std::string ProcessorName(const veilshift::ProcessorIdentity& id) {
    char text[96];
    std::snprintf(text, sizeof text, "%s family 0x%02x model 0x%02x stepping %u", veilshift::VendorName(id.vendor),
                  id.family, id.model, id.stepping);
    return text;
}

inline std::string CacheNames(const veilshift::CacheSizes& caches) {
    char text[96];
    std::snprintf(text, sizeof text, "L1d %llu KiB, L2 %llu KiB, L3 %llu KiB",
                  static_cast<unsigned long long>(caches.l1Data >> 10), static_cast<unsigned long long>(caches.l2 >> 10),
                  static_cast<unsigned long long>(caches.l3 >> 10));
    return text;
}

}  // namespace benchnames
