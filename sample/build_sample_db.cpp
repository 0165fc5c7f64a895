// Builds a detached data file of the engine from a T-SQL script: runs the
// script (batches separated by GO lines) as sa in a fresh instance home,
// closes the engine cleanly and copies the database's data file out.
//
// usage: build_sample_db SCRIPT DATABASE OUTPUT.mdf
// Exits non-zero, naming the failing batch and message, when any batch fails.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/common/engine_api.h"

namespace {

using sqlengine::Column;
using sqlengine::EnvChange;
using sqlengine::OutputValue;
using sqlengine::Row;
using sqlengine::ServerMessage;
using sqlengine::StatementDone;

// Remembers the first error; everything else is discarded.
class ErrorSink final : public sqlengine::ResultSink {
 public:
  void BeginResult(const std::vector<Column>&) override {}
  void AddRow(const Row&) override {}
  void Message(const ServerMessage& message) override {
    if (message.severity > 10 && error.empty()) {
      error = "Msg " + std::to_string(message.number) + ", line " + std::to_string(message.line) +
              ": " + message.text;
    }
  }
  void Done(const StatementDone&) override {}
  void ReturnStatus(std::int32_t) override {}
  void ReturnValue(const OutputValue&) override {}
  void Environment(const EnvChange&) override {}
  std::string error;
};

std::vector<std::string> SplitBatches(std::istream& in) {
  std::vector<std::string> batches(1);
  std::string line;
  while (std::getline(in, line)) {
    std::string trimmed = line;
    trimmed.erase(0, trimmed.find_first_not_of(" \t\r"));
    trimmed.erase(trimmed.find_last_not_of(" \t\r") + 1);
    if (trimmed == "GO" || trimmed == "go") {
      batches.emplace_back();
    } else {
      batches.back() += line + "\n";
    }
  }
  return batches;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: build_sample_db SCRIPT DATABASE OUTPUT.mdf\n";
    return 2;
  }
  const std::filesystem::path script = argv[1];
  const std::string database = argv[2];
  const std::filesystem::path output = argv[3];
  std::ifstream in(script);
  if (!in) {
    std::cerr << "build_sample_db: cannot read " << script << "\n";
    return 1;
  }
  std::filesystem::path home = output.parent_path() / (output.stem().string() + ".home");
  std::filesystem::remove_all(home);
  try {
    sqlengine::Log log;
    {
      auto engine = sqlengine::OpenEngine(home, log);
      sqlengine::LoginRequest request;
      request.user = "sa";
      sqlengine::LoginResult login = engine->Login(request);
      if (!login.session) {
        std::cerr << "build_sample_db: the login sa was refused\n";
        return 1;
      }
      int number = 0;
      for (const std::string& batch : SplitBatches(in)) {
        ++number;
        if (batch.find_first_not_of(" \t\r\n") == std::string::npos) continue;
        ErrorSink sink;
        login.session->ExecuteBatch(batch, sink);
        if (!sink.error.empty()) {
          std::cerr << script.string() << ": batch " << number << ": " << sink.error << "\n";
          return 1;
        }
      }
    }  // the session and the engine close every file here
    std::filesystem::path data_file = home / "data" / (database + ".mdf");
    std::filesystem::copy_file(data_file, output, std::filesystem::copy_options::overwrite_existing);
  } catch (const std::exception& e) {
    std::cerr << "build_sample_db: " << e.what() << "\n";
    return 1;
  }
  std::filesystem::remove_all(home);
  return 0;
}
