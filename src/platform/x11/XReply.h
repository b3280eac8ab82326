#pragma once
// Replies from xcb are malloc'ed and the caller frees them; an XReply does.
#include <cstdlib>
#include <memory>

namespace brevik {

struct FreeXReply {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using XReply = std::unique_ptr<T, FreeXReply>;

} // namespace brevik
