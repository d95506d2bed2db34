// The value readers that the binary reader hands to the application: small views over the
// decoded records, made on the stack for the call that receives them.
#pragma once

#include <cstdint>
#include <string>

#include <tavrin/interfaces.h>

#include "core/tavrin/binary/documentrecords.h"

namespace Tavrin::Binary {

// The values of one object.
class CDataReader final : public IDataReader {
public:
    CDataReader(const SName* names, const SObject* object) noexcept
        : m_names(names), m_object(object) {}

    unsigned int GetNameCount() const override;
    const char* GetName(unsigned int index) const override;

    SBlobRange Read(const char* name) override;
    bool Read(const char* name, ISerializableContainer& value) override;
    bool Read(const char* name, ISerializable& value) override;
    bool Read(const char* name, IDateTime& value) override;
    bool Read(const char* name, std::wstring& value) override;
    bool Read(const char* name, std::string& value) override;
    bool Read(const char* name, char& value) override;
    bool Read(const char* name, double& value) override;
    bool Read(const char* name, float& value) override;
    bool Read(const char* name, long long& value) override;
    bool Read(const char* name, unsigned long long& value) override;
    bool Read(const char* name, int& value) override;
    bool Read(const char* name, unsigned int& value) override;
    bool Read(const char* name, short& value) override;
    bool Read(const char* name, unsigned short& value) override;
    bool Read(const char* name, signed char& value) override;
    bool Read(const char* name, unsigned char& value) override;
    bool Read(const char* name, bool& value) override;

private:
    const SEntry* Find(uint8_t tag, const char* name) const noexcept;
    const SEntry* Scan(uint8_t tag, const char* name) const noexcept;
    const SEntry* FindIndexed(uint8_t tag, const char* name) const noexcept;
    template <class T>
    bool Get(uint8_t tag, const char* name, T& value) const noexcept;

    const SName* m_names;
    const SObject* m_object;
};

// The elements of one container: one array of the element kind.
class CContainerReader final : public IContainerReader {
public:
    CContainerReader(const SName* names, const SContainer* container) noexcept
        : m_names(names), m_container(container) {}

    SBlobRange Read(unsigned int index) override;
    bool Read(unsigned int index, ISerializableContainer& value) override;
    bool Read(unsigned int index, ISerializable& value) override;
    bool Read(unsigned int index, IDateTime& value) override;
    bool Read(unsigned int index, std::wstring& value) override;
    bool Read(unsigned int index, std::string& value) override;
    bool Read(unsigned int index, char& value) override;
    bool Read(unsigned int index, double& value) override;
    bool Read(unsigned int index, float& value) override;
    bool Read(unsigned int index, long long& value) override;
    bool Read(unsigned int index, unsigned long long& value) override;
    bool Read(unsigned int index, int& value) override;
    bool Read(unsigned int index, unsigned int& value) override;
    bool Read(unsigned int index, short& value) override;
    bool Read(unsigned int index, unsigned short& value) override;
    bool Read(unsigned int index, signed char& value) override;
    bool Read(unsigned int index, unsigned char& value) override;
    bool Read(unsigned int index, bool& value) override;

private:
    template <class T>
    bool Get(uint8_t tag, unsigned int index, T& value) const noexcept;

    const SName* m_names;
    const SContainer* m_container;
};

}  // namespace Tavrin::Binary
