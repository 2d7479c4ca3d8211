// A long random run of appends, updates and deletes on a table with several indexes, with
// flushes, switches of automatic flushing, cache limits and close/reopen in between, checked
// after every step against a plain model of the rows and of each index's order.
// ORV_MODEL_SEED and ORV_MODEL_STEPS choose another run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/components/orvel_data_manager.h"
#include "engine/storage/index_list.h"
#include "engine/storage/records_array.h"
#include "platform/memory.h"
#include "tests/components/data_manager_fixture.h"

namespace orv {
namespace {

using testing::DataManagerTest;
using testing::ImageBuilder;
using testing::TableDefinition;

enum Field { kS, kI, kF, kD, kC, kW, kFieldCount };

// One key part of an index as the model sees it.
struct KeyPart {
  int32_t field;  // -1: the identifier
  bool descending;
  bool case_insensitive;
};

struct ModelIndex {
  const char* name;
  std::vector<KeyPart> parts;
  bool unique;  // equal keys cannot occur: record numbers can be compared directly
};

const std::vector<ModelIndex>& Indexes() {
  static const std::vector<ModelIndex> indexes = {
      {"@ID", {{-1, false, false}}, true},
      {"ByS", {{kS, false, false}}, false},
      {"ByIDown", {{kI, true, false}}, false},
      {"ByF", {{kF, false, false}}, false},
      {"ByD", {{kD, false, false}}, false},
      {"ByCNoCase", {{kC, false, true}}, false},
      {"ByWI", {{kW, true, false}, {kI, false, false}}, false},
  };
  return indexes;
}

class Model {
 public:
  explicit Model(const TRecordGeometry& geometry) : g_(geometry) {}

  std::vector<std::vector<uint8_t>> rows;

  bool IsNull(const std::vector<uint8_t>& row, int32_t field) const {
    return g_.IsNull(row.data(), field);
  }
  int32_t Id(const std::vector<uint8_t>& row) const {
    int32_t id;
    std::memcpy(&id, row.data() + g_.IdentifierOffset(), 4);
    return id;
  }
  template <typename T>
  T Value(const std::vector<uint8_t>& row, int32_t field) const {
    T value;
    std::memcpy(&value, row.data() + g_.FieldOffsets[static_cast<size_t>(field)], sizeof value);
    return value;
  }
  std::string Text(const std::vector<uint8_t>& row, int32_t field, bool fold) const {
    std::string text(
        reinterpret_cast<const char*>(row.data() + g_.FieldOffsets[static_cast<size_t>(field)]));
    if (fold)
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  // < 0: a first in the index.
  int Compare(const ModelIndex& index, const std::vector<uint8_t>& a,
              const std::vector<uint8_t>& b) const {
    for (const KeyPart& part : index.parts) {
      int c = ComparePart(part, a, b);
      if (c != 0) return c;
    }
    return 0;
  }

 private:
  static int Sign(double d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

  int ComparePart(const KeyPart& part, const std::vector<uint8_t>& a,
                  const std::vector<uint8_t>& b) const {
    if (part.field < 0) return Sign(double(uint32_t(Id(a))) - double(uint32_t(Id(b))));
    const bool na = IsNull(a, part.field), nb = IsNull(b, part.field);
    int c;
    if (na || nb) {
      c = na == nb ? 0 : na ? -1 : 1;
    } else {
      switch (part.field) {
        case kS:
        case kC: {
          const std::string ta = Text(a, part.field, part.case_insensitive);
          const std::string tb = Text(b, part.field, part.case_insensitive);
          c = ta < tb ? -1 : ta > tb ? 1 : 0;
          break;
        }
        case kI:
          c = Sign(Value<int32_t>(a, kI) - double(Value<int32_t>(b, kI)));
          break;
        case kF:
          c = Sign(Value<double>(a, kF) - Value<double>(b, kF));
          break;
        case kD:
          c = Sign(Value<int32_t>(a, kD) - double(Value<int32_t>(b, kD)));
          break;
        default:
          c = Sign(Value<int16_t>(a, kW) - double(Value<int16_t>(b, kW)));
      }
    }
    return part.descending ? -c : c;
  }

  TRecordGeometry g_;
};

uint32_t EnvNumber(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                                          : fallback;
}

class DataManagerModelTest : public DataManagerTest {
 protected:
  void Define(TableDefinition& d) {
    d.fields.Add("ID", ftAutoInc);
    d.fields.Add("S", ftString, 6);
    d.fields.Add("I", ftInteger);
    d.fields.Add("F", ftFloat);
    d.fields.Add("D", ftDate);
    d.fields.Add("C", ftString, 4);
    d.fields.Add("W", ftSmallint);
    TIndexDef* i = d.indexes.Add("ByS", "S", 0);
    i = d.indexes.Add("ByIDown", "I", 0);
    i->SetDescFields("I");
    d.indexes.Add("ByF", "F", 0);
    d.indexes.Add("ByD", "D", 0);
    d.indexes.Add("ByCNoCase", "C", ixCaseInsensitive);
    i = d.indexes.Add("ByWI", "W;I", 0);
    i->SetDescFields("W");
  }

  std::string RandomText(const char* letters, int max_length) {
    std::string text;
    const int length = static_cast<int>(random_() % (max_length + 1));
    for (int k = 0; k < length; ++k) text += letters[random_() % std::strlen(letters)];
    return text;
  }

  std::vector<uint8_t> RandomRow(const TOrvelTableFiles& table, int32_t id) {
    ImageBuilder image(table);
    image.Clear(id);
    auto maybe = [&] { return random_() % 8 != 0; };  // one value in eight stays null
    if (maybe()) image.Text(kS, RandomText("abc", 3));
    if (maybe()) image.Int(kI, static_cast<int32_t>(random_() % 11) - 5);
    if (maybe()) image.Double(kF, static_cast<double>(random_() % 7) / 4 - 0.5);
    if (maybe()) image.Int(kD, 700000 + static_cast<int32_t>(random_() % 9));
    if (maybe()) image.Text(kC, RandomText("aAbB", 2));
    if (maybe()) {
      std::vector<uint8_t> bytes = image.bytes();
      const auto w = static_cast<int16_t>(static_cast<int>(random_() % 5) - 2);
      std::memcpy(bytes.data() + table.Geometry().FieldOffsets[kW], &w, 2);
      table.Geometry().SetNull(bytes.data(), kW, false);
      return bytes;
    }
    return image.bytes();
  }

  void Check(TOrvelDataManager& manager, const Model& model, uint32_t step) {
    SCOPED_TRACE(::testing::Message() << "step " << step << " seed " << seed_);
    ASSERT_EQ(manager.RecordCount(), static_cast<int32_t>(model.rows.size()));
    // An encrypted table writes the CRC into the slot when it enciphers; the rest is the row.
    const TRecordGeometry& g = manager.Table().Geometry();
    const auto crc = static_cast<size_t>(g.CrcOffset());
    const size_t after_crc = crc + 13, size = static_cast<size_t>(g.RecordSize);
    for (int32_t r = 0; r < manager.RecordCount(); ++r) {
      const uint8_t* image = manager.GetRecordPtr(r);
      const uint8_t* row = model.rows[static_cast<size_t>(r)].data();
      ASSERT_EQ(std::memcmp(image, row, crc), 0) << "record " << r;
      ASSERT_EQ(std::memcmp(image + after_crc, row + after_crc, size - after_crc), 0)
          << "record " << r;
      if (!encrypted_) ASSERT_EQ(std::memcmp(image + crc, row + crc, 13), 0) << "record " << r;
    }
    TOrvelIndexList& indexes = manager.Indexes();
    ASSERT_EQ(indexes.Count(), static_cast<int32_t>(Indexes().size()));
    for (size_t i = 0; i < Indexes().size(); ++i) {
      const ModelIndex& index = Indexes()[i];
      const auto no = static_cast<int32_t>(i);
      ASSERT_EQ(indexes.Header(no).Name, index.name);
      if (!indexes.IsValid(no)) indexes.BuildIndex(no, false);
      const TmvIntArray& array = indexes.Array(no);
      ASSERT_EQ(array.Count(), manager.RecordCount()) << index.name;
      std::vector<int32_t> expected(model.rows.size());
      for (size_t r = 0; r < expected.size(); ++r) expected[r] = static_cast<int32_t>(r);
      std::stable_sort(expected.begin(), expected.end(), [&](int32_t a, int32_t b) {
        const int c = model.Compare(index, model.rows[size_t(a)], model.rows[size_t(b)]);
        return c != 0 ? c < 0 : model.Id(model.rows[size_t(a)]) < model.Id(model.rows[size_t(b)]);
      });
      std::vector<bool> seen(expected.size(), false);
      for (int32_t p = 0; p < array.Count(); ++p) {
        const int32_t record = array[p];
        ASSERT_TRUE(record >= 0 && record < array.Count() && !seen[size_t(record)])
            << index.name << " position " << p;
        seen[size_t(record)] = true;
        if (index.unique) {
          ASSERT_EQ(record, expected[size_t(p)]) << index.name << " position " << p;
        } else {
          ASSERT_EQ(model.Compare(index, model.rows[size_t(record)],
                                  model.rows[size_t(expected[size_t(p)])]),
                    0)
              << index.name << " position " << p;
        }
      }
    }
  }

  void Run(bool encrypted, uint32_t default_steps);

  std::mt19937 random_;
  uint32_t seed_ = 0;
  bool encrypted_ = false;
};

TEST_F(DataManagerModelTest, RandomChangesKeepRowsAndIndexesInStep) {
  Run(false, 1500);
}

// Every page load deciphers and checks, every change enciphers: fewer steps cover it.
TEST_F(DataManagerModelTest, RandomChangesOfAnEncryptedTable) {
  Run(true, 500);
}

void DataManagerModelTest::Run(bool encrypted, uint32_t default_steps) {
  encrypted_ = encrypted;
  seed_ = EnvNumber("ORV_MODEL_SEED", 20240611);
  const uint32_t steps = EnvNumber("ORV_MODEL_STEPS", default_steps);
  random_.seed(seed_);
  TableDefinition definition;
  Define(definition);
  auto creator = NewManager();
  creator->SetRequestedEncrypted(encrypted);
  creator->CreateTable(definition.fields, definition.indexes, 1000, false);
  auto manager = NewManager();
  manager->SetPassword("model");
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  ASSERT_EQ(manager->Table().Header().Encrypted, encrypted);
  Model model(manager->Table().Geometry());
  int32_t last_id = 0;

  for (uint32_t step = 0; step < steps; ++step) {
    const int32_t count = manager->RecordCount();
    const auto current = static_cast<int32_t>(random_() % Indexes().size());
    const uint32_t dice = random_() % 100;
    // The table grows to a few hundred rows and shrinks again in waves.
    const bool growing = (step / 400) % 2 == 0;
    if (count == 0 || dice < (growing ? 55u : 30u)) {
      std::vector<uint8_t> row = RandomRow(manager->Table(), ++last_id);
      const int32_t position = manager->mvAppendRecord(row.data(), current);
      model.rows.push_back(row);
      if (manager->Indexes().IsValid(current)) {
        ASSERT_EQ(manager->Indexes().Array(current)[position], count) << "step " << step;
      }
    } else if (dice < 75) {
      const auto r = static_cast<int32_t>(random_() % count);
      std::vector<uint8_t> row = RandomRow(manager->Table(), model.Id(model.rows[size_t(r)]));
      manager->mvUpdateRecord(row.data(), current, r);
      model.rows[size_t(r)] = row;
    } else if (dice == 96 && count > 40) {
      // Deletes in a row, nothing read in between: the indexes keep them aside as one run.
      const auto deletes = static_cast<int32_t>(20 + random_() % (count / 2));
      int32_t r = 0, position = 0;
      for (int32_t k = 0; k < deletes; ++k) {
        r = static_cast<int32_t>(random_() % manager->RecordCount());
        position = manager->mvDeleteRecord(current, r);
        model.rows[size_t(r)] = model.rows.back();
        model.rows.pop_back();
      }
      if (r < manager->RecordCount() && manager->Indexes().IsValid(current)) {
        ASSERT_EQ(manager->Indexes().Array(current)[position], r) << "step " << step;
      }
    } else if (dice < 97) {
      const auto r = static_cast<int32_t>(random_() % count);
      const int32_t position = manager->mvDeleteRecord(current, r);
      model.rows[size_t(r)] = model.rows.back();
      model.rows.pop_back();
      if (r < count - 1 && manager->Indexes().IsValid(current)) {
        ASSERT_EQ(manager->Indexes().Array(current)[position], r) << "step " << step;
      }
    } else if (dice == 97) {
      manager->FlushBuffers();
    } else if (dice == 98) {
      manager->SetAutoFlush(!manager->AutoFlush());
    } else {
      // Close and open again, sometimes with a cache of a few records, or without one.
      const uint32_t cache = random_() % 3;
      const int64_t sorts = manager->Indexes().SortCount();
      manager->CloseTable();
      manager->SetCacheDisabled(cache == 1);
      const size_t record_size =
          static_cast<size_t>(model.rows.empty() ? 64 : model.rows[0].size());
      TScopedAvailablePhysicalMemory memory(cache == 2 ? 3 * 8 * record_size
                                                       : AvailablePhysicalMemory());
      ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
      EXPECT_EQ(manager->Indexes().SortCount(), sorts) << "a clean reopen sorted";
      if (cache == 1 || (cache == 2 && manager->RecordCount() > 8)) {
        ASSERT_FALSE(manager->RecordsArray()->WholeTableMode());
      }
      Check(*manager, model, step);
      if (HasFatalFailure()) return;
      continue;
    }
    Check(*manager, model, step);
    if (HasFatalFailure()) return;
  }
  manager->CloseTable();
  ASSERT_EQ(manager->LoadTable(), kLoadTableOpened);
  Check(*manager, model, steps);
}

}  // namespace
}  // namespace orv
