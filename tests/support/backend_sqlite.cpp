#include "tests/support/backend.h"

namespace dt::test {

bool Backend::IsPostgres() {
    return false;
}

}  // namespace dt::test
