#pragma once

#include <QByteArray>

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

namespace samples {

// HTML that attacks a reader, or that is only broken: every piece must come out well-formed,
// without anything that runs or loads, and nested the way reading systems validate it.
struct HtmlSample {
    const char* name;
    const char* html;
};
extern const HtmlSample kHostileHtml[];
extern const int kHostileHtmlCount;

// A feed document whose items carry every piece of kHostileHtml as their bodies.
QByteArray HostileFeed();

} // namespace samples
