// Where the bytes of deleted rows live, and what is left of them: the one
// account the carvers' comments refer to. SQLite does not erase a row it
// deletes (Vantrel's fixtures, like the devices, run with secure_delete off);
// it only unlinks the bytes, which stay until something is written over them.
//
// 1. A freed cell inside the cell content area becomes a freeblock. Its first
//    four bytes are overwritten by the freeblock header (2-byte offset of the
//    next freeblock, 2-byte size), which takes the payload-length and rowid
//    varints and, for a cell whose varints are short, the record's header
//    size and first serial type too. Everything after those four bytes is
//    as the row left it.
// 2. Freeblocks that touch are merged into one, so one freeblock can hold
//    several freed cells back to back, each of which lost its first four bytes
//    when it was freed; only the first one's header still links the chain.
//    Gaps of fewer than four bytes are not chained at all (the page header
//    counts them as fragmented bytes).
// 3. A freed cell at the start of the cell content area is handed back to the
//    unallocated gap between the cell pointer array and the content area
//    instead: no freeblock header touches it, so it keeps even its first
//    bytes until the pointer array or a new cell grows over it. The pointer
//    array shrinks without erasing, so stale pointers past its end still name
//    where deleted cells began.
// 4. Pages that lose their last row, and the overflow pages of deleted rows,
//    go to the freelist whole. A freelist trunk page has its first bytes
//    overwritten by the list's own links (next trunk, leaf count, leaf page
//    numbers); a leaf page of the freelist keeps its old image, a b-tree page
//    header, cells and freeblocks included. A freed overflow chain keeps its
//    page order on the freelist.
// 5. In a write-ahead log, the older frames of a page keep that page's images
//    from before later changes, deleted rows included, until a checkpoint
//    resets the log.
//
// A carver therefore reads a record either with its varints intact (3, 4, 5)
// or with its first four bytes to be reconstructed (1, 2), and must expect any
// region to end in bytes a newer cell or link wrote over its tail.
#pragma once
