// PtrArray: the plug-in's growable array of pointers. Its growth steps are part of
// its observable behaviour (capacity), so they follow the agent platform's own
// container rather than a doubling vector.
#include "support/support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kSmallestStep = 4;
constexpr int32_t kLargestStep = 1024;

int32_t GrowStepFor(int32_t size, int32_t configuredStep) {
    if (configuredStep != 0) return configuredStep;
    int32_t step = size / 8;
    if (step < kSmallestStep) return kSmallestStep;
    return step > kLargestStep ? kLargestStep : step;
}

void **AllocateElements(int64_t count) {
    if (count <= 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(void *)) return nullptr;
    return static_cast<void **>(std::calloc(static_cast<size_t>(count), sizeof(void *)));
}

}  // namespace

PtrArray::~PtrArray() { FreeData(); }

void PtrArray::SetSize(int32_t newSize, int32_t growBy) {
    if (newSize < 0) return;
    if (growBy != -1) m_growBy = growBy;
    if (newSize == 0) {
        FreeData();
        return;
    }
    if (m_data == nullptr) {
        m_data = AllocateElements(newSize);
        if (m_data == nullptr) return;
        m_size = m_capacity = newSize;
        return;
    }
    if (newSize <= m_capacity) {
        if (newSize > m_size) std::memset(m_data + m_size, 0, static_cast<size_t>(newSize - m_size) * sizeof(void *));
        m_size = newSize;
        return;
    }
    int64_t newCapacity = static_cast<int64_t>(m_capacity) + GrowStepFor(m_size, m_growBy);
    if (newCapacity < newSize) newCapacity = newSize;
    if (newCapacity > INT32_MAX) newCapacity = INT32_MAX;
    void **grown = AllocateElements(newCapacity);
    if (grown == nullptr) return;  // out of memory: the array stays as it was
    std::memcpy(grown, m_data, static_cast<size_t>(m_size) * sizeof(void *));
    std::free(m_data);
    m_data = grown;
    m_size = newSize;
    m_capacity = static_cast<int32_t>(newCapacity);
}

void *PtrArray::GetAt(int32_t index) const {
    if (index < 0 || index >= m_size) return nullptr;
    return m_data[index];
}

int32_t PtrArray::Add(void *element) {
    const int32_t index = m_size;
    SetAtGrow(index, element);
    return index < m_size ? index : -1;
}

void PtrArray::SetAtGrow(int32_t index, void *element) {
    if (index < 0) return;
    if (index >= m_size) {
        if (index == INT32_MAX) return;
        SetSize(index + 1, -1);
        if (index >= m_size) return;  // the array could not grow
    }
    m_data[index] = element;
}

void PtrArray::RemoveAt(int32_t index, int32_t count) {
    if (index < 0 || count < 0 || static_cast<int64_t>(index) + count > m_size) return;
    const int32_t following = m_size - index - count;
    if (following > 0)
        std::memmove(m_data + index, m_data + index + count, static_cast<size_t>(following) * sizeof(void *));
    m_size -= count;
}

void PtrArray::RemoveAll() { SetSize(0, -1); }

void PtrArray::FreeData() {
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
}
