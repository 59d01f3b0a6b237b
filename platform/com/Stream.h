#pragma once
// IStream: a seekable byte stream, and a memory stream that implements it
// (the stand-in for a stream on global memory).
#include <cstdint>
#include <vector>

#include "platform/com/ComPtr.h"

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

struct STATSTG {
    uint64_t cbSize = 0;
};

struct ISequentialStream : IUnknown {
    VA_INTERFACE_ID("0C733A30-2A1C-11CE-ADE5-00AA0044773D");
    // Reads up to cb bytes; *read (optional) receives how many were read.
    // S_FALSE when fewer than cb bytes were left.
    virtual HRESULT Read(void* buffer, ULONG cb, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG cb, ULONG* written) = 0;
};

struct IStream : ISequentialStream {
    VA_INTERFACE_ID("0000000C-0000-0000-C000-000000000046");
    virtual HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(uint64_t size) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
};

class CMemoryStream : public CUnknownImpl<CMemoryStream, IStream> {
public:
    CMemoryStream() = default;
    explicit CMemoryStream(std::vector<uint8_t> data) : m_data(std::move(data)) {}

    HRESULT Read(void* buffer, ULONG cb, ULONG* read) override;
    HRESULT Write(const void* buffer, ULONG cb, ULONG* written) override;
    HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) override;
    HRESULT SetSize(uint64_t size) override;
    HRESULT Stat(STATSTG* stat, DWORD flags) override;
    HRESULT QueryInterfaceExtra(REFIID riid, void** ppv);

    const std::vector<uint8_t>& Data() const { return m_data; }

    // Streams larger than this refuse to grow (STG_E_MEDIUMFULL).
    static constexpr uint64_t kMaxSize = uint64_t(1) << 31;

private:
    std::vector<uint8_t> m_data;
    uint64_t m_pos = 0;
};

// Makes an empty memory stream, or one holding a copy of the bytes.
HRESULT CreateStreamOnHGlobal(IStream** stream, const void* data = nullptr, size_t size = 0);
