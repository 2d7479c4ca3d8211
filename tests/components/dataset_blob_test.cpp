#include <gtest/gtest.h>

#include <string>

#include "engine/components/orvel_blob_stream.h"
#include "tests/components/dataset_fixture.h"

namespace orv::testing {
namespace {

using DatasetBlobTest = DatasetTest;

std::string ReadAll(TStream& stream) {
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

void WriteNote(TestDataset& dataset, const std::string& text) {
  auto stream = dataset.CreateBlobStream(dataset.FieldByName("NOTE"), bmWrite);
  if (!text.empty()) stream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

std::string ReadNote(TestDataset& dataset) {
  auto stream = dataset.CreateBlobStream(dataset.FieldByName("NOTE"), bmRead);
  return ReadAll(*stream);
}

TEST_F(DatasetBlobTest, ValuesOfAnySizeGoThroughTheStream) {
  const std::string sizes[] = {std::string(1, 'x'), std::string(600, 'y'), std::string(5000, 'z')};
  auto dataset = NewDataset();
  dataset->Open();
  for (const std::string& value : sizes) {
    dataset->Append();
    dataset->FieldByName("NAME")->SetAsString(std::to_string(value.size()));
    WriteNote(*dataset, value);
    EXPECT_FALSE(dataset->FieldByName("NOTE")->IsNull());
    dataset->Post();
  }
  dataset->Close();
  dataset->Open();
  for (const std::string& value : sizes) {
    SCOPED_TRACE(value.size());
    ASSERT_TRUE(dataset->Locate("NAME", Variant(std::to_string(value.size())), 0));
    EXPECT_FALSE(dataset->FieldByName("NOTE")->IsNull());
    EXPECT_TRUE(ReadNote(*dataset) == value) << ReadNote(*dataset).size();
  }
}

TEST_F(DatasetBlobTest, EmptyValueReadsBackEmptyAndNull) {
  auto dataset = NewDataset();
  dataset->Open();
  dataset->Append();
  WriteNote(*dataset, "first");
  dataset->Post();
  dataset->Edit();
  WriteNote(*dataset, "");
  EXPECT_TRUE(dataset->FieldByName("NOTE")->IsNull());
  dataset->Post();
  EXPECT_TRUE(dataset->FieldByName("NOTE")->IsNull());
  EXPECT_EQ(ReadNote(*dataset), "");
}

TEST_F(DatasetBlobTest, CancelForgetsTheWrittenValue) {
  auto dataset = NewDataset();
  dataset->Open();
  dataset->Append();
  WriteNote(*dataset, "kept");
  dataset->Post();
  dataset->Edit();
  WriteNote(*dataset, "dropped");
  dataset->Cancel();
  EXPECT_EQ(ReadNote(*dataset), "kept");
}

TEST_F(DatasetBlobTest, ReadStreamRefusesWritesAndReadOnlyDatasetRefusesWriteStreams) {
  auto dataset = NewDataset();
  dataset->Open();
  dataset->Append();
  WriteNote(*dataset, "v");
  dataset->Post();
  auto stream = dataset->CreateBlobStream(dataset->FieldByName("NOTE"), bmRead);
  EXPECT_EQ(MessageOf([&] { stream->Write("x", 1); }),
            "Error in TOrvelBlobStream.Write - blob stream is read only!");
  stream.reset();
  dataset->Close();
  dataset->SetReadOnly(true);
  dataset->Open();
  EXPECT_EQ(MessageOf([&] { dataset->CreateBlobStream(dataset->FieldByName("NOTE"), bmWrite); }),
            "Error in TOrvelDataset.CreateBlobStream - Dataset is read only!");
  EXPECT_EQ(ReadNote(*dataset), "v");
}

TEST_F(DatasetBlobTest, DeletingARecordKeepsTheOthersValues) {
  auto dataset = NewDataset();
  dataset->Open();
  for (const char* text : {"one", "two", "three"}) {
    dataset->Append();
    dataset->FieldByName("NAME")->SetAsString(text);
    WriteNote(*dataset, text);
    dataset->Post();
  }
  dataset->First();
  dataset->Delete();
  ASSERT_TRUE(dataset->Locate("NAME", Variant("three"), 0));
  EXPECT_EQ(ReadNote(*dataset), "three");
  ASSERT_TRUE(dataset->Locate("NAME", Variant("two"), 0));
  EXPECT_EQ(ReadNote(*dataset), "two");
}

}  // namespace
}  // namespace orv::testing
