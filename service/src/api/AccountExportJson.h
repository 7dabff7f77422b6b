#pragma once

#include "domain/AccountExport.h"

#include <QJsonObject>

namespace clipvane::service::AccountExportJson {

// The export as one JSON document ("clipvane-service export", version 1).
QJsonObject toJson(const AccountExport &data);

} // namespace clipvane::service::AccountExportJson
