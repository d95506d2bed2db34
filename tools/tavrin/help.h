// The texts of --help, one per command.
#pragma once

namespace TavrinTool {

inline constexpr const char* kHelpMain =
    "Usage: tavrin COMMAND [ARGS]\n"
    "See, check and convert binary, JSON and XML documents without their classes.\n"
    "\n"
    "Commands:\n"
    "  show FILE                 print a document as an indented tree\n"
    "  convert IN OUT            convert between binary, JSON and XML\n"
    "  check FILE...             read documents and report ok or what is wrong\n"
    "  stat FILE                 names, kinds, nesting and sizes of a binary document\n"
    "  base64 encode|decode      Base64 of bytes, and back\n"
    "  text guess|convert        code pages of text files\n"
    "\n"
    "'-' stands for standard input or output. 'tavrin COMMAND --help' tells more;\n"
    "'tavrin --version' prints the version. Exit status: 0 success, 1 failure, 2 usage error.\n";

inline constexpr const char* kHelpShow =
    "Usage: tavrin show FILE [--format binary|json|xml]\n"
    "Prints the document as an indented tree. The format is told by the content unless\n"
    "--format is given. Binary documents show each value's exact kind; JSON and XML\n"
    "documents show values as the text holds them. Blobs show their size and first\n"
    "16 bytes in hex, date-times their ISO form with milliseconds.\n";

inline constexpr const char* kHelpConvert =
    "Usage: tavrin convert IN OUT [--to binary|json|xml] [--from binary|json|xml]\n"
    "                     [--like DOC.bin] [--class NAME]\n"
    "Converts a document through the library's own writers. The output format is --to,\n"
    "else told by OUT's extension (.bin, .json, .xml); the input format is told by the\n"
    "content unless --from is given. OUT is written whole or not at all.\n"
    "\n"
    "Class names a binary document does not store: the root's is --class NAME\n"
    "(default: the XML document element's name, else Document); a container element of\n"
    "a container is named Container; objects without a stored class are named Object.\n"
    "\n"
    "Kinds, from JSON or XML to binary, without --like:\n"
    "  true, false                           bool\n"
    "  integers -2^31 .. 2^31-1              int32\n"
    "  other integers of 64 bits             int64, else uint64\n"
    "  other numbers (fraction, exponent)    double\n"
    "  yyyy-mm-ddThh:mm:ss                   date-time\n"
    "  any other text (JSON: any quoted)     wide string\n"
    "  XML element with only a CDATA section blob (Base64)\n"
    "  JSON object; XML element with child elements: object, or container when its\n"
    "  children are all named elt, or are several of one name\n"
    "  JSON array                            container of the elements' common kind\n"
    "                                        (integers widen, numbers become double,\n"
    "                                        mixed texts and numbers wide strings)\n"
    "With --like DOC.bin, each value's kind and each object's class name come from the\n"
    "value of the same name (element of the same position) in DOC.bin, and values are\n"
    "written in the order that gives DOC.bin's name table and section order: a binary\n"
    "document converted to JSON and back with --like the original gives the original's\n"
    "bytes when the JSON holds every value exactly (it keeps no milliseconds).\n";

inline constexpr const char* kHelpCheck =
    "Usage: tavrin check FILE... [--format binary|json|xml]\n"
    "Reads each document with the library's reader and prints 'FILE: ok' or the\n"
    "exception (type, function, source file and line); for JSON and XML also the line\n"
    "and column where reading stopped. Exit status 0 when all are fine, 1 otherwise.\n";

inline constexpr const char* kHelpStat =
    "Usage: tavrin stat FILE\n"
    "For a binary document: version, root kind, size, the name table (identifier and\n"
    "text), the count of values per kind, the deepest nesting and the bytes per section.\n";

inline constexpr const char* kHelpBase64 =
    "Usage: tavrin base64 encode|decode [IN [OUT]] [--lines]\n"
    "Encodes the bytes of IN as Base64 text (--lines: 72-column lines), or decodes\n"
    "Base64 text. IN and OUT default to standard input and output.\n";

inline constexpr const char* kHelpText =
    "Usage: tavrin text guess FILE...\n"
    "       tavrin text convert IN OUT --to CP [--from CP]\n"
    "guess prints each file's code page when it is certain (byte-order mark, or the\n"
    "detector's confident answer). convert reads IN in code page --from (guessed when\n"
    "not given) and writes it in code page --to. Code pages are Windows numbers\n"
    "(65001 UTF-8, 1252 Western, 1251 Cyrillic, 932 Japanese, ...).\n";

}  // namespace TavrinTool
