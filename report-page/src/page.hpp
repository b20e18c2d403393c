// The report page: one self-contained HTML file that opens from file:// with
// no network, its data embedded and drawn by the page's own script.
#pragma once

#include <string>

#include "run_data.hpp"

namespace report_page {

// The page's data as the script reads it: compact rows over shared tables,
// each distinct text once.
std::string page_data_json(const RunData& data);

// The whole page. The data sits in a JSON script element with every '<'
// escaped, so no text of a run (a test's output is data) can end the element
// or become markup.
std::string render_page(const RunData& data);

}  // namespace report_page
