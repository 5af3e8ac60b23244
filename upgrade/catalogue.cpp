#include "upgrade/catalogue.h"

namespace krevol {

ItemParseCode parseSoftwareItem(std::string_view&, SoftwareItem&) {
    return 1;
}  // filled in next

std::string catalogueRequestBody(const std::string&, const std::string&, const std::string&) {
    return {};
}
std::string versionReportBody(const std::string&, const std::string&, const std::string&,
                              const SoftwareItem&) {
    return {};
}

bool fetchCatalogue(const std::string&, const std::string&, const std::string&,
                    std::vector<SoftwareItem>& catalogue, const CatalogueItemSink&, CallTrace*) {
    catalogue.clear();
    return false;
}

bool reportSoftwareVersion(const std::string&, const std::string&, const std::string&, const SoftwareItem&,
                           CallTrace*) {
    return false;
}

}  // namespace krevol
