// A JUnit document under test, checked by the system's XML parser (xmllint,
// found on PATH) rather than by string matching.
#pragma once

#include <string>

namespace harness_formats {

// What a parser run printed (standard output and error together) and how it ended.
struct ParserRun {
  std::string output;
  int exit_status = -1;
};

// A document saved to a fresh temporary file for the parser; the file is
// removed with the value.
class XmlDocument {
 public:
  explicit XmlDocument(const std::string& text);
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // `xmllint --noout`: status 0 and no output when the document is well-formed.
  ParserRun check_well_formed() const;

  // `xmllint --noout --schema`: status 0 when the document is valid against the
  // XML schema at `schema_path`; a schema that cannot be read fails.
  ParserRun validate(const std::string& schema_path) const;

  // The value of the XPath expression `expression` (a string or number
  // expression such as "count(//testcase)"), or the parser's complaint.
  std::string xpath(const std::string& expression) const;

 private:
  std::string path_;
};

}  // namespace harness_formats
