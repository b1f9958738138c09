#pragma once

namespace svc {

// Values of "code" in every reply; the assistant knows 0 and -2, the rest say why.
enum ApiCode {
    Ok = 0,
    BadRequest = -1,
    AlreadyInLibrary = -2,
    NotFound = -3,
    NotAccepted = -4,
    Unreadable = -5,
    InternalError = -6,
};

} // namespace svc
