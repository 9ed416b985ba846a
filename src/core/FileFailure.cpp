#include "FileFailure.h"

namespace kestrove {

std::u16string FailureMessageText(const FileFailure& failure) {
    return u"加密时" + failure.description;
}

}  // namespace kestrove
