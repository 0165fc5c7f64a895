#pragma once
// The result of a SELECT ... FOR XML as SQL Server 2000 sends it: one ntext
// column named XML_F52E2B61-18A1-11d1-B105-00805F49916B holding the XML,
// cut into rows of at most 2033 characters, which a client joins again.
// The query's rows come in as a result sink would take them and go out as
// XML while they come.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/common/forwarding_sink.h"
#include "engine/tsql/bind/for_xml_columns.h"
#include "engine/tsql/for_xml.h"

namespace sqlengine::exec {

class ForXmlResult final : public ForwardingSink {
 public:
  ForXmlResult(ResultSink& client, tsql::ForXml shape)
      : ForwardingSink(client), shape_(std::move(shape)) {}

  void BeginResult(const std::vector<Column>& columns) override;
  void AddRow(const Row& row) override;
  // The query's column origins describe none of the XML result's.
  void Origins(const ResultOrigins&) override {}

  // Closes the elements still open and sends what is left; the number of
  // rows the client was sent.
  std::int64_t Finish();

  // Characters (UTF-16 code units) in one row of the result at most.
  static constexpr std::size_t kRowCharacters = 2033;

 private:
  void RawRow(const Row& row);
  void AutoRow(const Row& row);
  // EXPLICIT: the row's Tag under its Parent, which must be open.
  void ExplicitRow(const Row& row);
  // Opens element `level` with the row's columns of it; its start tag is
  // left open for what it may hold.
  void Open(std::size_t level, const Row& row);
  void StartTag(const std::string& name);
  void AddAttribute(const std::string& name, const std::string& text);
  // Closes the innermost open element.
  void Close();
  void EndStartTag();
  void Send(bool all);

  tsql::ForXml shape_;
  std::vector<Column> columns_;
  bool begun_ = false;
  std::string pending_;  // XML not yet sent
  std::int64_t rows_sent_ = 0;
  // The open elements, outermost first: name, whether the start tag is
  // still open (nothing written inside yet), and in EXPLICIT mode its tag.
  struct OpenElement {
    std::string name;
    bool start_open = true;
    std::int64_t tag = 0;
  };
  std::vector<OpenElement> open_;
  // AUTO: the previous row.
  Row previous_;
  bool any_row_ = false;
  // EXPLICIT: the columns after Tag and Parent.
  std::vector<tsql::bind::ExplicitColumn> universal_;
};

// The XML name SQL Server gives a column or table name: each character an
// XML name cannot hold as _xHHHH_ (its UTF-16 code in hex).
std::string XmlName(const std::string& name);

}  // namespace sqlengine::exec
