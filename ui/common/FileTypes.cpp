#include "ui/common/FileTypes.h"

#include <QMimeDatabase>

#include "platform/IniFile.h"

std::string GetFileTypeDescription(const std::string& Ext) {
  if (Trim(Ext).empty()) return std::string();
  const QMimeDatabase Db;
  const QMimeType Type =
      Db.mimeTypeForFile(QStringLiteral("file.") + QString::fromStdString(LowerCase(Ext)), QMimeDatabase::MatchExtension);
  // The fallback type ("application/octet-stream") stands for "no type known".
  if (!Type.isValid() || Type.isDefault()) return std::string();
  return Type.comment().toStdString();
}
