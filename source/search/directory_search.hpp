#pragma once

// The walk of the tree that posts the file tasks (searcher::directory_search).

#include "base/tree_walk.hpp"

namespace search {

// How the walks of the tree go, this one and the driver's search for include directories:
// what they leave out, and whether in byte order.
walk_options walk_settings();

} // namespace search
