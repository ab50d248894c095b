#pragma once

// Feed documents written the way their publishers write them: blog engines, news sites,
// podcast hosts, and feeds from before Atom 1.0.
namespace samples {

extern const char kWordPress[];
extern const char kBlogger[];
extern const char kPodcast[];
extern const char kRdf[];
extern const char kRss091[];
extern const char kAtom03[];
extern const char kNewsSite[];
extern const char kUndeclared[];

} // namespace samples
