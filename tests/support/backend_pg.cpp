#include "tests/support/backend.h"

namespace dt::test {

bool Backend::IsPostgres() {
    return true;
}

}  // namespace dt::test
