// The database module on Windows: linked into the program, which stays one static file.

#include "shop/sql_session.h"

extern "C" const fieldkit::shop::SqlModule fieldkit_shop_sql_module;

namespace fieldkit::shop {

const SqlModule* sqlModule(std::optional<Failure>* failure)
{
    failure->reset();
    return &fieldkit_shop_sql_module;
}

} // namespace fieldkit::shop
