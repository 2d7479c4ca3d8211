#pragma once

namespace orv {

// How a dataset opens the stream of a BLOB field (TDataSet::CreateBlobStream): bmWrite starts
// from an empty value.
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

}  // namespace orv
