// The demo sandbox served in this test process: freshly seeded data, any free port on 127.0.0.1,
// and KREVOL_API_HOST pointing the suite's calls at it.
#pragma once

#include <stdlib.h>

#include <memory>
#include <string>

#include "sandbox/demo_seed.h"
#include "sandbox/sandbox_server.h"

namespace krevol::test {

// Seeds the demo data into `dataDir` (from `seedDir`) and starts serving it; null with `error`
// when seeding or opening fails. The caller stops the server before `dataDir` goes.
inline std::unique_ptr<sandbox::SandboxServer> startDemoSandbox(const std::string& dataDir,
                                                                const std::string& seedDir,
                                                                std::string& error) {
    if (!sandbox::seedDemoData(dataDir, seedDir, error)) return nullptr;
    sandbox::ServerConfig config;
    config.dataDir = dataDir;
    config.port = 0;
    config.logToStderr = false;
    auto server = std::make_unique<sandbox::SandboxServer>(config);
    if (!server->open(error)) return nullptr;
    server->start();
    ::setenv("KREVOL_API_HOST", ("127.0.0.1:" + std::to_string(server->port())).c_str(), 1);
    // A proxy set in the environment must never see the loopback calls.
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
    return server;
}

}  // namespace krevol::test
