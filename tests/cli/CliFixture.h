#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <memory>
#include <string>

#include "model/ProjectStore.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {

struct CliRun {
  int exitCode;
  std::string out;
  std::string err;
};

// Runs the real brisklet-cli against a data folder of the test's own.
class CliTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder home;
  ProjectStore store{home / "data" / "Brisklet" / "Projects"};

  // Starts brisklet-cli without waiting for it.
  std::unique_ptr<QProcess> start(const QStringList& arguments,
                                  const QProcessEnvironment& extra = {}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ANTHROPIC_API_KEY");
    for (const QString& name : extra.keys()) environment.insert(name, extra.value(name));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    process->setProcessEnvironment(environment);
    process->start(BRISKLET_CLI, arguments);
    EXPECT_TRUE(process->waitForStarted(30000));
    return process;
  }

  static CliRun finished(QProcess& process) {
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
  }

  CliRun cli(const QStringList& arguments, const QProcessEnvironment& extra = {}) {
    return finished(*start(arguments, extra));
  }

  Project stored(const std::string& name, const std::string& createdAt, int segments = 0) {
    Project project = testing::sampleProject(name, createdAt, segments);
    store.save(project);
    return project;
  }
};

}  // namespace brisklet
