// Identifiers of the executable's string table.
#pragma once

#define IDS_GREETING 1
