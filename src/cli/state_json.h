#pragma once

#include "backup/snapshot_store.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class PanelViewModel;
struct Error;
struct OperationOutcome;
enum class Service;

namespace cli {

// The key of a service in the JSON output: "mysql", "phpWeb", "phpMyAdmin".
QString serviceKey(Service service);

// The model's state as the JSON output shows it: the resolved and the saved panel root, the
// permission hint, the error summary, the report in the log, and per service whether it runs,
// its port, its address and its process id where one is known.
QJsonObject stateJson(const PanelViewModel& model);

// How a long operation ended: operation, succeeded, per service whether it succeeded and why
// not, and the warnings it went past.
QJsonObject outcomeJson(const QString& operation, const OperationOutcome& outcome);

QJsonObject errorJson(const Error& error);

// The database's snapshots, newest first: name, path, created, reason, automatic, databases
// with their sizes, the dump's and the file's size, the panel's and the server's version.
QJsonArray snapshotsJson(const QList<backup::SnapshotInfo>& snapshots);

} // namespace cli
