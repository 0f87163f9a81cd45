#include "tests/app/CliFixture.h"

namespace clitest {

std::unique_ptr<testsupport::FirebirdTestDb> Cli::db;
std::unique_ptr<testsupport::FirebirdTestDb> Cli::charDb;
std::unique_ptr<testsupport::TempDir> Cli::releases;
std::unique_ptr<testsupport::HttpTestServer> Cli::server;

} // namespace clitest
