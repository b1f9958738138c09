#pragma once

// The caller's tag for a media-service request; HttpManager hands it back in the reply
// object under "_type", so one handler can tell the replies apart.
namespace RequestKind {
enum Kind : int {
    Import = 0,
    Remove = 1,
    List = 2,
    SetSettings = 3,
    GetSettings = 4,
    LanAddresses = 5,
};
} // namespace RequestKind
