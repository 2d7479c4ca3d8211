// BLOB values against SQLite BLOB columns: 10 000 photos of 50-200 KB, written into a new table
// in one durable run (ours: append the record and WriteBLOBValue, then CloseTable; SQLite: one
// transaction of INSERTs) and read back in record order (ours: ReadBLOBValue into a memory
// stream; SQLite: SELECT and sqlite3_column_blob), the files on local disk:
//   WriteRandom / ReadRandom  random bytes, which no compression could shrink
//   WriteJpeg / ReadJpeg      real JPEG files: gradients with noise drawn and encoded by Qt once,
//                             a pool of them reused
// The table is the catalogue's photo shape: an auto-increment key and one BLOB field, default
// block size and no compression. Prints our time relative to SQLite's at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/table_bench_support.h"
#include "engine/components/orvel_data_manager.h"
#include "engine/files/little_endian.h"
#include "platform/streams.h"

namespace {

using namespace orv::bench;

constexpr int32_t kPhotos = 10000;
constexpr size_t kPoolSize = 24;
constexpr int32_t kFotoField = 0;

using Photo = std::vector<uint8_t>;

const std::vector<Photo>& RandomPhotos() {
  static const std::vector<Photo> pool = [] {
    std::mt19937 random(11);
    std::vector<Photo> photos;
    for (size_t i = 0; i < kPoolSize; ++i) {
      Photo photo(50 * 1024 + random() % (150 * 1024));
      for (uint8_t& byte : photo) byte = static_cast<uint8_t>(random());
      photos.push_back(std::move(photo));
    }
    return photos;
  }();
  return pool;
}

// A photo-like picture: colour gradients, a few soft discs, sensor noise.
QImage Picture(int width, int height, std::mt19937& random, int noise) {
  QImage image(width, height, QImage::Format_RGB32);
  const int cx = static_cast<int>(random() % uint32_t(width));
  const int cy = static_cast<int>(random() % uint32_t(height));
  const int hue = static_cast<int>(random() % 360);
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const int d = std::abs(x - cx) + std::abs(y - cy);
      const int n = static_cast<int>(random() % uint32_t(2 * noise + 1)) - noise;
      const QColor base = QColor::fromHsv((hue + x / 8) % 360, 80 + (y * 150) / height,
                                          std::clamp(240 - d / 4, 30, 255));
      line[x] = qRgb(std::clamp(base.red() + n, 0, 255), std::clamp(base.green() + n, 0, 255),
                     std::clamp(base.blue() + n, 0, 255));
    }
  }
  return image;
}

const std::vector<Photo>& JpegPhotos() {
  static const std::vector<Photo> pool = [] {
    std::mt19937 random(5);
    std::vector<Photo> photos;
    for (size_t i = 0; photos.size() < kPoolSize && i < 10 * kPoolSize; ++i) {
      const int width = 480 + static_cast<int>(random() % 480);
      const QImage image = Picture(width, width * 3 / 4, random, 6 + static_cast<int>(i % 10));
      QByteArray bytes;
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::WriteOnly);
      if (!image.save(&buffer, "JPEG", 85)) std::abort();
      // Only the sizes the catalogue's photographs have.
      if (bytes.size() < 50 * 1024 || bytes.size() > 200 * 1024) continue;
      photos.emplace_back(bytes.begin(), bytes.end());
    }
    if (photos.size() < kPoolSize) std::abort();
    return photos;
  }();
  return pool;
}

int64_t PoolBytes(const std::vector<Photo>& pool) {
  int64_t total = 0;
  for (int32_t i = 0; i < kPhotos; ++i) total += static_cast<int64_t>(pool[i % pool.size()].size());
  return total;
}

void CreatePhotos(const std::string& table) {
  orv::TFieldDefs fields(nullptr);
  fields.Add("ID", orv::ftAutoInc);
  fields.Add("Foto", orv::ftBlob);
  orv::TIndexDefs indexes(nullptr);
  orv::TOrvelDataManager(table, &Database()).CreateTable(fields, indexes, 1000, false);
}

void WriteOurs(const std::string& table, const std::vector<Photo>& pool) {
  CreatePhotos(table);
  auto manager = OpenOurs(table);
  const orv::TRecordGeometry& g = manager->Table().Geometry();
  std::vector<uint8_t> image(static_cast<size_t>(g.RecordSize), 0);
  orv::TMemoryStream stream;
  for (int32_t i = 0; i < kPhotos; ++i) {
    orv::StoreI32(image.data() + g.IdentifierOffset(), i + 1);
    manager->mvAppendRecord(image.data(), 0);
    const Photo& photo = pool[static_cast<size_t>(i) % pool.size()];
    stream.Clear();
    stream.WriteBuffer(photo.data(), static_cast<int64_t>(photo.size()));
    stream.Seek(0, orv::soBeginning);
    manager->WriteBLOBValue(stream, kFotoField, i);
  }
  manager->CloseTable();
}

void WriteSqlite(const std::string& file, const std::vector<Photo>& pool) {
  fs::remove(Dir() + "/" + file);
  sqlite3* db = OpenSqlite(file);
  Exec(db, "CREATE TABLE photos(id INTEGER PRIMARY KEY, foto BLOB)");
  Exec(db, "BEGIN");
  sqlite3_stmt* insert = Prepare(db, "INSERT INTO photos VALUES(?, ?)");
  for (int32_t i = 0; i < kPhotos; ++i) {
    const Photo& photo = pool[static_cast<size_t>(i) % pool.size()];
    sqlite3_bind_int(insert, 1, i + 1);
    sqlite3_bind_blob(insert, 2, photo.data(), static_cast<int>(photo.size()), SQLITE_STATIC);
    if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// Each read checks the sizes and a byte of every value against the pool.
void ReadOurs(const std::string& table, const std::vector<Photo>& pool) {
  auto manager = OpenOurs(table);
  orv::TMemoryStream stream;
  for (int32_t i = 0; i < manager->RecordCount(); ++i) {
    manager->ReadBLOBValue(stream, kFotoField, i);
    const Photo& photo = pool[static_cast<size_t>(i) % pool.size()];
    if (stream.Size() != static_cast<int64_t>(photo.size()) ||
        stream.Memory()[photo.size() / 2] != photo[photo.size() / 2])
      std::abort();
  }
  manager->CloseTable();
}

void ReadSqlite(const std::string& file, const std::vector<Photo>& pool) {
  sqlite3* db = OpenSqlite(file);
  sqlite3_stmt* select = Prepare(db, "SELECT foto FROM photos ORDER BY id");
  for (int32_t i = 0; sqlite3_step(select) == SQLITE_ROW; ++i) {
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(select, 0));
    const Photo& photo = pool[static_cast<size_t>(i) % pool.size()];
    if (sqlite3_column_bytes(select, 0) != static_cast<int>(photo.size()) ||
        bytes[photo.size() / 2] != photo[photo.size() / 2])
      std::abort();
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
}

void Write(benchmark::State& state, bool ours, const std::vector<Photo>& pool,
           const std::string& name) {
  for (auto _ : state) ours ? WriteOurs(name, pool) : WriteSqlite(name, pool);
  state.SetBytesProcessed(state.iterations() * PoolBytes(pool));
}

// Reads what the write of the same kind left, writing it first when run alone.
void Read(benchmark::State& state, bool ours, const std::vector<Photo>& pool,
          const std::string& name) {
  const std::string file = ours ? name + ".dat" : name;
  if (!fs::exists(Dir() + "/" + file)) ours ? WriteOurs(name, pool) : WriteSqlite(name, pool);
  for (auto _ : state) ours ? ReadOurs(name, pool) : ReadSqlite(name, pool);
  state.SetBytesProcessed(state.iterations() * PoolBytes(pool));
}

void BM_OrvWriteRandom(benchmark::State& state) {
  Write(state, true, RandomPhotos(), "Random");
}
void BM_SqliteWriteRandom(benchmark::State& state) {
  Write(state, false, RandomPhotos(), "random.db");
}
void BM_OrvReadRandom(benchmark::State& state) {
  Read(state, true, RandomPhotos(), "Random");
}
void BM_SqliteReadRandom(benchmark::State& state) {
  Read(state, false, RandomPhotos(), "random.db");
}
void BM_OrvWriteJpeg(benchmark::State& state) {
  Write(state, true, JpegPhotos(), "Jpeg");
}
void BM_SqliteWriteJpeg(benchmark::State& state) {
  Write(state, false, JpegPhotos(), "jpeg.db");
}
void BM_OrvReadJpeg(benchmark::State& state) {
  Read(state, true, JpegPhotos(), "Jpeg");
}
void BM_SqliteReadJpeg(benchmark::State& state) {
  Read(state, false, JpegPhotos(), "jpeg.db");
}

BENCHMARK(BM_OrvWriteRandom)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SqliteWriteRandom)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OrvReadRandom)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteReadRandom)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OrvWriteJpeg)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SqliteWriteJpeg)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OrvReadJpeg)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteReadJpeg)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  return orv::bench::RunTableBenchmarks(argc, argv,
                                        {"WriteRandom", "ReadRandom", "WriteJpeg", "ReadJpeg"},
                                        fmt::format("{} photos of 50-200 KB", kPhotos));
}
