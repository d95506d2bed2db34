// The document text of the JSON and XML readers.
#include <tavrin/detail/textreader.h>

#include <utility>

namespace Tavrin::Detail {

CTextReader::CTextReader(const char* text) : m_text(text) {}
CTextReader::CTextReader(const std::string& text) : m_text(text.c_str()) {}
CTextReader::CTextReader(std::string&& text)
    : m_owned(std::make_shared<const std::string>(std::move(text))), m_text(m_owned->c_str()) {}
CTextReader::CTextReader(const CTextReader& other) = default;
CTextReader& CTextReader::operator=(const CTextReader& other) = default;
CTextReader::~CTextReader() = default;

}  // namespace Tavrin::Detail
