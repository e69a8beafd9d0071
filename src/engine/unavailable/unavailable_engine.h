#pragma once

#include "media/engine.h"

#include <memory>

namespace native_worker::engine {

// An engine whose start-up always fails: what a build without a media engine offers.
std::unique_ptr<Engine> createUnavailableEngine();

}  // namespace native_worker::engine
