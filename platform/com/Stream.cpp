#include "platform/com/Stream.h"

#include <algorithm>
#include <cstring>
#include <new>

HRESULT CMemoryStream::QueryInterfaceExtra(REFIID riid, void** ppv) {
    if (riid == ISequentialStream::iid) {
        *ppv = static_cast<ISequentialStream*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT CMemoryStream::Read(void* buffer, ULONG cb, ULONG* read) {
    if (!buffer && cb)
        return STG_E_INVALIDPOINTER;
    uint64_t avail = m_pos < m_data.size() ? m_data.size() - m_pos : 0;
    ULONG n = static_cast<ULONG>(std::min<uint64_t>(avail, cb));
    if (n)
        std::memcpy(buffer, m_data.data() + m_pos, n);
    m_pos += n;
    if (read)
        *read = n;
    return n < cb ? S_FALSE : S_OK;
}

HRESULT CMemoryStream::Write(const void* buffer, ULONG cb, ULONG* written) {
    if (written)
        *written = 0;
    if (!buffer && cb)
        return STG_E_INVALIDPOINTER;
    uint64_t end = m_pos + cb;
    if (end > kMaxSize)
        return STG_E_MEDIUMFULL;
    try {
        if (end > m_data.size())
            m_data.resize(end);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (cb)
        std::memcpy(m_data.data() + m_pos, buffer, cb);
    m_pos = end;
    if (written)
        *written = cb;
    return S_OK;
}

HRESULT CMemoryStream::Seek(int64_t move, DWORD origin, uint64_t* newPosition) {
    int64_t base;
    switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<int64_t>(m_pos);
            break;
        case STREAM_SEEK_END:
            base = static_cast<int64_t>(m_data.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
    }
    int64_t target = base + move;
    if (target < 0)
        return STG_E_INVALIDFUNCTION;
    m_pos = static_cast<uint64_t>(target);
    if (newPosition)
        *newPosition = m_pos;
    return S_OK;
}

HRESULT CMemoryStream::SetSize(uint64_t size) {
    if (size > kMaxSize)
        return STG_E_MEDIUMFULL;
    try {
        m_data.resize(size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CMemoryStream::Stat(STATSTG* stat, DWORD) {
    if (!stat)
        return STG_E_INVALIDPOINTER;
    stat->cbSize = m_data.size();
    return S_OK;
}

HRESULT CreateStreamOnHGlobal(IStream** stream, const void* data, size_t size) {
    if (!stream)
        return E_POINTER;
    *stream = nullptr;
    try {
        std::vector<uint8_t> bytes;
        if (data && size)
            bytes.assign(static_cast<const uint8_t*>(data),
                         static_cast<const uint8_t*>(data) + size);
        auto* s = new CMemoryStream(std::move(bytes));
        s->AddRef();
        *stream = s;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
