// A table's rows as the older page images of a write-ahead log keep them:
// the database file's own image of each leaf whose current image is in the
// log, every frame of the log that is no page's current image, and the
// current image of a page that is no leaf of the table now: a leaf freed in a
// committed transaction (PageWalk.h). A row deleted after the last checkpoint
// is a whole cell there, and one deleted before lies in the image's gap and
// freeblocks.
#pragma once

#include <string>

#include "carve/FoundAt.h"
#include "carve/RowReader.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// Reads the older images of table name's leaves. An image is a leaf of the
// table when it is a table leaf whose cells' records all fit the table's
// columns by the rule book (ColumnRules.h: no more values than columns, each
// serial type by its column's affinity, NULL in the rowid alias), one of them
// with a value for every column; an image without a cell only when its page
// is a leaf of the table now. Appends its cells as whole rows (the rowid
// alias shows the cell's rowid), then the rows TemplateCarvePage reads in its
// gap and freeblocks, and one entry per row to found: a log frame's place is
// LogFrame with its frame number and the row's offset in the log; the file's
// image names the offset in the file, the carving's place for a carved row,
// Unknown for a cell. Nothing when there is no log or no such table.
void ReadOlderImagesOfTable(const SqliteFile& db, const std::string& name, RowList& rows,
                            FoundList& found);

}  // namespace vantrel
