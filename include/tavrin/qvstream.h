/// \file
/// The binary streams: the write-stream chain and the read-stream contract. These define the
/// byte encoding of every primitive of the binary format (little-endian, no padding; wide
/// text as UTF-16 code units behind the wide length prefix; narrow text behind a 4-byte count).
#pragma once

#include <cstdint>
#include <string>

#include <tavrin/export.h>
#include <tavrin/qvstring.h>

/// Write-stream interface. Every operation returns the stream itself and throws what the
/// stream's storage throws (a file that cannot be written, memory exhaustion); the stream keeps
/// nothing of the caller's arguments after the call.
class TAVRIN_API IStreamWrite {
public:
    virtual ~IStreamWrite() = default;
    /// The text up to its first NUL, as WriteSzW / WriteSzA write it.
    ///@{
    virtual IStreamWrite& WriteStringW(const QvStringW& value) = 0;
    virtual IStreamWrite& WriteStringA(const QvStringA& value) = 0;
    virtual IStreamWrite& WriteStdWString(const std::wstring& value) = 0;
    virtual IStreamWrite& WriteStdString(const std::string& value) = 0;
    ///@}
    /// Zero-terminated wide text (not null): the wide length prefix (FF FE FF, then the count of
    /// UTF-16 units in the shortest of 1, 2, 4 or 8 bytes, all ones escaping to the next width),
    /// then the units. A character above U+FFFF is a surrogate pair; one above U+10FFFF U+FFFD.
    virtual IStreamWrite& WriteSzW(const wchar_t* text) = 0;
    /// Zero-terminated narrow text (not null): 4-byte length, then the bytes.
    virtual IStreamWrite& WriteSzA(const char* text) = 0;
    /// The typed values: their bytes, little-endian, no padding (a bool is one byte 0 or 1, a
    /// float or double its IEEE-754 bits).
    ///@{
    virtual IStreamWrite& WriteLong(int32_t value) = 0;
    virtual IStreamWrite& WriteULong(uint32_t value) = 0;
    virtual IStreamWrite& WriteChar(char value) = 0;
    virtual IStreamWrite& WriteDouble(double value) = 0;
    virtual IStreamWrite& WriteFloat(float value) = 0;
    virtual IStreamWrite& WriteInt64(int64_t value) = 0;
    virtual IStreamWrite& WriteUInt64(uint64_t value) = 0;
    virtual IStreamWrite& WriteInt32(int32_t value) = 0;
    virtual IStreamWrite& WriteUInt32(uint32_t value) = 0;
    virtual IStreamWrite& WriteInt16(int16_t value) = 0;
    virtual IStreamWrite& WriteUInt16(uint16_t value) = 0;
    virtual IStreamWrite& WriteInt8(int8_t value) = 0;
    virtual IStreamWrite& WriteUInt8(uint8_t value) = 0;
    virtual IStreamWrite& WriteBool(bool value) = 0;
    ///@}
    /// A 4-byte version number, read back by QvStreamRead::ReadAndCompareVersion.
    virtual IStreamWrite& WriteVersion(uint32_t version) = 0;

protected:
    /// Constructed only as part of a stream class.
    IStreamWrite() = default;
};

/// Implements the text operations through the typed ones.
class TAVRIN_API QvStreamWrite : public IStreamWrite {
public:
    IStreamWrite& WriteStringW(const QvStringW& value) override;
    IStreamWrite& WriteStringA(const QvStringA& value) override;
    IStreamWrite& WriteStdWString(const std::wstring& value) override;
    IStreamWrite& WriteStdString(const std::string& value) override;
    IStreamWrite& WriteSzW(const wchar_t* text) override;
    IStreamWrite& WriteSzA(const char* text) override;
    IStreamWrite& WriteVersion(uint32_t version) override;
    /// Appends `count` bytes as they stand (the text operations write their bytes through it).
    virtual IStreamWrite& WriteBytes(const void* data, uint64_t count) = 0;
};

/// A binary write stream: every typed write goes through WriteBytes, so a class that
/// implements WriteBytes alone produces the bytes of the format.
class TAVRIN_API QvStreamWriteBinary : public QvStreamWrite {
public:
    IStreamWrite& WriteLong(int32_t value) override;
    IStreamWrite& WriteULong(uint32_t value) override;
    IStreamWrite& WriteChar(char value) override;
    IStreamWrite& WriteDouble(double value) override;
    IStreamWrite& WriteFloat(float value) override;
    IStreamWrite& WriteInt64(int64_t value) override;
    IStreamWrite& WriteUInt64(uint64_t value) override;
    IStreamWrite& WriteInt32(int32_t value) override;
    IStreamWrite& WriteUInt32(uint32_t value) override;
    IStreamWrite& WriteInt16(int16_t value) override;
    IStreamWrite& WriteUInt16(uint16_t value) override;
    IStreamWrite& WriteInt8(int8_t value) override;
    IStreamWrite& WriteUInt8(uint8_t value) override;
    IStreamWrite& WriteBool(bool value) override;
    /// Appends `count` bytes as they stand.
    IStreamWrite& WriteBytes(const void* data, uint64_t count) override = 0;
};

/// Base of the read streams: the read operations, in the order of their table slots, and the
/// version check. Each read stores the value that the matching write of the write side produced;
/// a read that fails throws and leaves its destination unchanged.
class TAVRIN_API QvStreamRead {
public:
    virtual ~QvStreamRead() = default;
    /// Reads a text as the write of the same name (WriteStringW, WriteStringA, WriteStdWString,
    /// WriteStdString) wrote it into `value`.
    ///@{
    virtual void ReadStringW(QvStringW& value) = 0;
    virtual void ReadStringA(QvStringA& value) = 0;
    virtual void ReadStdWString(std::wstring& value) = 0;
    virtual void ReadStdString(std::string& value) = 0;
    ///@}
    /// Reads a value as the typed write of the same name wrote it into `value`.
    ///@{
    virtual void ReadLong(int32_t& value) = 0;
    virtual void ReadULong(uint32_t& value) = 0;
    virtual void ReadChar(char& value) = 0;
    virtual void ReadDouble(double& value) = 0;
    virtual void ReadFloat(float& value) = 0;
    virtual void ReadInt64(int64_t& value) = 0;
    virtual void ReadUInt64(uint64_t& value) = 0;
    virtual void ReadInt32(int32_t& value) = 0;
    ///@}
    /// Reads 4 bytes as WriteUInt32 wrote them; also reads what WriteVersion and WriteULong
    /// wrote.
    virtual void ReadUInt32(uint32_t& value) = 0;
    /// Reads a value as the typed write of the same name wrote it into `value`.
    ///@{
    virtual void ReadInt16(int16_t& value) = 0;
    virtual void ReadUInt16(uint16_t& value) = 0;
    virtual void ReadInt8(int8_t& value) = 0;
    virtual void ReadUInt8(uint8_t& value) = 0;
    virtual void ReadBool(bool& value) = 0;
    ///@}
    /// Copies up to `count` bytes into `data`; returns how many were delivered (fewer only at
    /// the end of the data).
    virtual uint64_t ReadBytes(void* data, uint64_t count) = 0;

    /// Reads a 4-byte version (through ReadUInt32); throws QvExceptionWrongFileVersion when it
    /// is greater than `expected`. Nothing beyond the 4 bytes is consumed.
    void ReadAndCompareVersion(uint32_t expected);

protected:
    /// Constructed only as part of a stream class.
    QvStreamRead() = default;
};

/// A binary read stream. Each read consumes exactly the bytes that the matching write produced.
/// The typed reads are implemented over ReadBytes, so a caller's stream may implement ReadBytes
/// alone: a read that cannot be completed raises an exception derived from IException and stores
/// nothing.
///
/// Failures, each a Tavrin::CException naming the read operation: a typed read with fewer bytes
/// left than its width; a wide text without its mark or with a malformed length; a text whose
/// bytes end before its length (the bytes before it are consumed). Long texts are read in pieces,
/// so a damaged length never allocates more than the bytes actually delivered.
class TAVRIN_API QvStreamReadBinary : public QvStreamRead {
public:
    void ReadStringW(QvStringW& value) override;
    void ReadStringA(QvStringA& value) override;
    /// Wide text: units beyond the BMP arrive as surrogate pairs; an unpaired one becomes U+FFFD.
    void ReadStdWString(std::wstring& value) override;
    /// Narrow text: its bytes as they stand, NULs included.
    void ReadStdString(std::string& value) override;
    void ReadLong(int32_t& value) override;
    void ReadULong(uint32_t& value) override;
    void ReadChar(char& value) override;
    void ReadDouble(double& value) override;
    void ReadFloat(float& value) override;
    void ReadInt64(int64_t& value) override;
    void ReadUInt64(uint64_t& value) override;
    void ReadInt32(int32_t& value) override;
    void ReadUInt32(uint32_t& value) override;
    void ReadInt16(int16_t& value) override;
    void ReadUInt16(uint16_t& value) override;
    void ReadInt8(int8_t& value) override;
    void ReadUInt8(uint8_t& value) override;
    void ReadBool(bool& value) override;
    uint64_t ReadBytes(void* data, uint64_t count) override = 0;

    /// Direct access for readers that decode straight from memory: returns the address of the
    /// next unread byte and sets `available` to the number of bytes that follow it in one
    /// piece, or returns null when the stream has no such memory (the default), in which case
    /// readers use the read operations only. The bytes stay valid and unchanged until the next
    /// call on the stream. A class that derives from a stream with memory and changes what its
    /// read operations deliver must return null here.
    virtual const unsigned char* GetContiguous(uint64_t& available);
    /// Consumes `count` of the bytes that GetContiguous reported, as reading them would. The
    /// default (no memory) accepts only 0; a larger count raises Tavrin::CException.
    virtual void Consume(uint64_t count);
};
