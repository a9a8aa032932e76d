// lumekctl's one output layer: text made safe for a terminal, tables, lossless JSON, and
// the reasons failures are given with.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace lumekctl {

// @text for a terminal: control characters as \n, \t, \r or \xNN, a byte that is not part of
// valid UTF-8 as \xNN, and a backslash doubled so the escapes cannot be forged.
std::string escaped(std::string_view text);

// @text for a JSON string without loss: valid UTF-8 is kept, a backslash is doubled, and
// every other byte becomes the four characters \xNN.
std::string json_text(std::string_view text);

// @doc with every string and key passed through json_text; dumping it cannot throw.
nlohmann::json lossless(const nlohmann::json &doc);

// A table for people: cells escaped, columns as wide as their content (up to their
// limit, past which a cell is cut with "…"), two blanks between columns.
class Table {
  public:
    struct Column {
        std::string head;
        size_t max = 48;     // widest cell; 0 for no limit
        bool right = false;  // numbers line up on the right
    };
    explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
    void add(std::vector<std::string> cells);
    size_t size() const { return rows_.size(); }
    // The last column is never padded; with @width above 0 each line is cut to it.
    void print(std::ostream &out, size_t width = 0) const;

  private:
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
};

// Columns on the terminal standard output is, 0 when it is none.
size_t terminal_width();

// The reason for a failing library result @rc: the last-error text when it changed during
// the call (@before is the text read before it), else the meaning of the code.
std::string reason(int32_t rc, const std::string &before);
// The last-error text now, without its trailing newline.
std::string last_error();
// The meaning of a framework-band or memdb code, "" for none.
std::string code_meaning(int32_t rc);
// Where the framework writes its log, for failures that go only there.
extern const char kSeeLog[];

// A path argument as the daemon and the library must see it: relative paths are made
// absolute against the working directory, so a daemon in another directory finds the same file.
std::string absolute(const std::string &path);
CLI::Validator absolute_path();

}  // namespace lumekctl
