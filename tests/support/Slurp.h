#pragma once
// A whole file's bytes, for tests that compare what was written; empty when
// it cannot be read.

#include <QFile>
#include <QString>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline std::string Slurp(const QString& path) {
    return Slurp(std::filesystem::path(QFile::encodeName(path).toStdString()));
}
