#include "search/directory_search.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "base/progress_line.hpp"
#include "base/tree_walk.hpp"
#include "base/walk_filter.hpp"
#include "base/worker_pool.hpp"
#include "cache/content_index.hpp"
#include "cache/cursor_cache.hpp"
#include "core/source_files.hpp"
#include "match/query.hpp"
#include "output/ordered_output.hpp"
#include "search/file_search.hpp"
#include "search/searcher.hpp"

#include <fnmatch.h>
#include <sys/stat.h>
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace search {

namespace fs = std::filesystem;

namespace {

bool is_default_filter() {
    static const bool is_default = searcher::settings.filter == "*.*";
    return is_default;
}

bool is_selected(const std::string& path) {
    if (is_default_filter()) {
        return has_source_extension(path);
    }
    // The filter's view lies over a NUL-terminated driver string.
    return fnmatch(searcher::settings.filter.data(), path.c_str(), 0) == 0;
}

// The path below the root, which is the same in every checkout, picks the file's shard.
bool in_shard(std::string_view relative) {
    return searcher::settings.shard_count <= 1 ||
           XXH3_64bits(relative.data(), relative.size()) % searcher::settings.shard_count ==
               searcher::settings.shard_index;
}

// The type comes from the directory listing where it is known: only links and entries of an
// unknown type cost a status query, which follows the link.
bool is_searchable_file(const walk_entry& entry) {
    std::error_code error;
    const bool regular = entry.is_regular_file(error);
    if (!error) {
        return regular;
    }
    // Vanished, or a dangling link.
    if (error != std::errc::no_such_file_or_directory && error != std::errc::not_a_directory) {
        report(entry.path(), error.message());
    }
    return false;
}

// With --sort path, at most this many files are searched or held after the oldest one not
// yet printed, and their outputs held come to at most so many bytes. The window spans a tree's
// stretches of files that the pre-filter drops, so that the workers find the next parse
// while a long one holds the front.
constexpr std::size_t sort_window = 16384;
constexpr std::size_t sort_held_bytes = 64 << 20;

// The held output in source order; nothing, after a message, when that cannot be had. The
// file's number must be completed whatever happens: the walk waits for it.
std::string in_order(const std::string& path, const held_output& held) noexcept {
    try {
        return held.in_order();
    } catch (const std::exception& error) {
        report(path, error.what());
        return {};
    }
}

// The failure that stopped the search, kept by the first task that met one.
struct stop_slot {
    std::mutex lock;
    std::exception_ptr failure;
    std::atomic<bool> stopped{false};
};

stop_slot& stop_state() {
    static stop_slot slot;
    return slot;
}

void throw_if_stopped() {
    stop_slot& slot = stop_state();
    if (slot.stopped.load()) {
        const std::lock_guard<std::mutex> guard(slot.lock);
        std::rethrow_exception(slot.failure);
    }
}

// Posts the file tasks; with --sort path their outputs are held and printed in the order in
// which they were posted, and a task is posted only when the window has room for it.
class file_poster {
public:
    file_poster() {
        if (searcher::settings.sort_by_path) {
            order.emplace(sort_window, sort_held_bytes);
        }
    }

    void post(const std::string& path, std::optional<std::uint64_t> known_hash = {}) {
        throw_if_stopped();
        progress_line::file_found();
        if (!order) {
            searcher::pool->post(
                [copy = path, known_hash] { search_file_task(copy, nullptr, known_hash); });
            return;
        }
        order->wait_for_room(posted);
        searcher::pool->post([copy = path, known_hash, index = posted, &order = *order] {
            held_output held;
            search_file_task(copy, &held, known_hash);
            order.complete(index, in_order(copy, held));
        });
        ++posted;
    }

private:
    std::optional<ordered_output> order;
    std::uint64_t posted = 0;
};

bool is_left_out(const char* relative) {
    return searcher::excluded != nullptr && searcher::excluded->leaves_out(relative, false);
}

bool is_regular_file(const char* path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Whether the search takes the walk's entry: a regular file that the filter selects, that
// nothing leaves out, in this run's shard.
bool is_taken(const walk_entry& entry, std::size_t names_start) {
    const std::string& path = entry.path();
    const char* relative = path.c_str() + names_start;
    return is_searchable_file(entry) && is_selected(path) && !is_left_out(relative) &&
           in_shard(relative);
}

// Runs post_all and waits for the tasks, which read the settings, alive only as long as the
// run, and the poster's order: whatever ends the posting, none may be left behind.
template <class Post_all> void post_and_wait(worker_pool& pool, Post_all&& post_all) {
    try {
        post_all();
    } catch (...) {
        pool.cancel_queued();
        pool.wait_all();
        throw;
    }
    pool.wait_all();
    throw_if_stopped();
}

} // namespace

void searcher::directory_search(const char* search_path) {
    if (!is_regular_file(search_path)) {
        search_files(list_tree(search_path, [](const walk_entry&) {}));
        return;
    }
    // A file named as the path is searched whatever its name.
    file_poster poster;
    post_and_wait(*pool, [&] { poster.post(search_path); });
}

namespace {

// Up to this many files' states are taken by one task while the walk goes on.
constexpr std::size_t state_slice = 256;

// Paths of a walk and, when the index can narrow the search, their states, taken on a worker.
struct file_slice {
    std::vector<std::string> paths;
    std::vector<file_state> states;
};

void take_states(file_slice& slice) {
    slice.states.resize(slice.paths.size());
    for (std::size_t i = 0; i < slice.paths.size(); ++i) {
        struct stat info {};
        if (stat(slice.paths[i].c_str(), &info) == 0) {
            slice.states[i] = state_of(info);
        }
    }
}

// The walk for list_tree, with the pool's workers preparing the index and taking files'
// states beside it. Slices live in a deque, whose elements stay where they are as it grows.
class tree_lister {
public:
    tree_lister(content_index* index, worker_pool& pool)
        : index(index), pool(pool), prepared(ready.get_future().share()) {
        slices.emplace_back();
    }

    // The tasks hold the lister: whatever ends the walk, the pool's tasks end before it goes.
    void start() {
        const std::string_view needle = searcher::settings.rules.query.required_bytes();
        with_states = index != nullptr && content_index::narrows_by(needle);
        if (index != nullptr) {
            pool.post([this, needle] { prepare(needle); });
        }
    }

    void add(std::string path) {
        slices.back().paths.push_back(std::move(path));
        if (slices.back().paths.size() == state_slice) {
            close_slice();
            slices.emplace_back();
        }
    }

    tree_listing finish() {
        close_slice();
        pool.wait_all();
        tree_listing listing;
        std::size_t files = 0;
        for (const file_slice& slice : slices) {
            files += slice.paths.size();
        }
        // Grown once: each step of a vector's growth would cost fresh pages.
        listing.files.reserve(files);
        listing.ruled_out.reserve(files);
        listing.known_hashes.reserve(files);
        listing.states.reserve(files);
        for (file_slice& slice : slices) {
            for (std::size_t i = 0; i < slice.paths.size(); ++i) {
                const bool stated = !slice.states.empty();
                const bool ruled_out = stated && index->cannot_hold(slice.states[i]);
                std::uint64_t hash = 0;
                const bool known = stated && !ruled_out && index->known_hash(slice.states[i], hash);
                listing.ruled_out.push_back(ruled_out);
                listing.known_hashes.push_back(known ? std::optional(hash) : std::nullopt);
                listing.states.push_back(stated ? slice.states[i] : file_state{});
                listing.files.push_back(std::move(slice.paths[i]));
            }
        }
        return listing;
    }

private:
    void prepare(std::string_view needle) {
        struct announce {
            std::promise<void>& ready;
            ~announce() { ready.set_value(); }
        } whatever_happens{ready};
        index->prepare(needle);
    }

    // The states are worth their system calls only when the index rules out files.
    void close_slice() {
        if (with_states) {
            pool.post([this, &slice = slices.back()] {
                prepared.wait();
                if (index->narrows()) {
                    take_states(slice);
                }
            });
        }
    }

    content_index* index;
    worker_pool& pool;
    std::promise<void> ready;
    std::shared_future<void> prepared;
    bool with_states = false;
    std::deque<file_slice> slices;
};

} // namespace

tree_listing searcher::list_tree(const std::string& root, const entry_visit& on_other) {
    is_default_filter();
    content_index* const index = cache ? cache->index() : nullptr;
    tree_lister lister(index, *pool);
    const std::size_t names_start = relative_start(root);
    auto visit = [&](const walk_entry& entry) {
        if (is_taken(entry, names_start)) {
            lister.add(entry.path());
        } else {
            on_other(entry);
        }
    };
    const fs::path root_path(root);
    auto fail = [&](const fs::path& path, const std::error_code& error) {
        if (path == root_path) {
            throw fs::filesystem_error(error.message(), path, error);
        }
        report(path.native(), error.message());
        return true;
    };
    try {
        lister.start();
        walk_tree(root_path, visit, fail, walk_settings());
        return lister.finish();
    } catch (...) {
        pool->wait_all();
        throw;
    }
}

namespace {

// Lends the cache the walk's states, by absolute, lexically normal path, while the listing's
// files are searched. The map is made when first asked for: a search that checks no entry's
// dependencies needs none, and a listing without states has none to lend.
class listed_states_lent {
public:
    explicit listed_states_lent(const tree_listing& listing)
        : listing(listing),
          lookup([this](const std::string& path, file_state& state) { return find(path, state); }) {
        const bool stated = std::any_of(listing.states.begin(), listing.states.end(),
                                        [](const file_state& state) { return state.exists; });
        if (searcher::cache && stated) {
            searcher::cache->take_listed_states(&lookup);
        }
    }
    ~listed_states_lent() {
        if (searcher::cache) {
            searcher::cache->take_listed_states(nullptr);
        }
    }
    listed_states_lent(const listed_states_lent&) = delete;
    listed_states_lent& operator=(const listed_states_lent&) = delete;

private:
    bool find(const std::string& path, file_state& state) {
        std::call_once(made, [this] {
            for (std::size_t i = 0; i < listing.files.size(); ++i) {
                if (listing.states[i].exists) {
                    by_path.emplace(absolute_in("", listing.files[i]), listing.states[i]);
                }
            }
        });
        const auto found = by_path.find(absolute_in("", path));
        if (found == by_path.end()) {
            return false;
        }
        state = found->second;
        return true;
    }

    const tree_listing& listing;
    std::once_flag made;
    std::unordered_map<std::string, file_state> by_path;
    const listed_state lookup;
};

} // namespace

void searcher::search_files(const tree_listing& listing) {
    // The headers among the listed files cost the entries' checks no status query.
    const listed_states_lent lent(listing);
    file_poster poster;
    post_and_wait(*pool, [&] {
        for (std::size_t i = 0; i < listing.files.size(); ++i) {
            if (!listing.ruled_out[i]) {
                poster.post(listing.files[i], listing.known_hashes[i]);
            }
        }
    });
}

void searcher::stop(std::exception_ptr failure) noexcept {
    stop_slot& slot = stop_state();
    {
        const std::lock_guard<std::mutex> guard(slot.lock);
        if (slot.failure) {
            return;
        }
        slot.failure = std::move(failure);
        slot.stopped.store(true);
    }
    // Queued tasks are not dropped: with --sort path the walk waits for each one's number.
    pool->interrupt();
}

bool searcher::is_stopped() noexcept {
    return stop_state().stopped.load();
}

walk_options walk_settings() {
    return {searcher::excluded.get(), searcher::settings.sort_by_path};
}

} // namespace search
