// kcommon/etag.h: HTTP entity tags and the If-None-Match precondition (RFC 9110, 8.8.3 and
// 13.1.2).
#ifndef KCOMMON_ETAG_H
#define KCOMMON_ETAG_H

#include <string_view>

namespace kcommon {

// True when the If-None-Match field value `field` matches the current entity tag `etag` (a
// quoted tag, optionally weak: W/"..."), so that a GET or HEAD is answered 304: `field` is "*"
// (and the resource exists), or a comma-separated list of entity tags of which one matches by
// the weak comparison (the quoted parts are equal; either or both may be weak). Several field
// lines are given as one value joined by commas. A field that is not well-formed matches
// nothing, so the full answer is sent.
bool if_none_match(std::string_view field, std::string_view etag);

}  // namespace kcommon

#endif  // KCOMMON_ETAG_H
