#include "sites/PasswordVault.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

std::string TPasswordKeeper::NewId()
{
    static std::random_device device;
    static std::mt19937_64 random(device());
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

bool TPasswordKeeper::Read(const std::string& id, std::string& password)
{
    for (const auto& [known, value] : m_cache)
        if (known == id) {
            password = value;
            return true;
        }
    if (!Available())
        return false;
    std::string error;
    switch (m_vault->Read(id, password, error)) {
        case IPasswordVault::ReadResult::Found:
            m_cache.emplace_back(id, password);
            return true;
        case IPasswordVault::ReadResult::NotFound:
            m_error = "密钥环中找不到密码 (" + id + ")";
            return false;
        case IPasswordVault::ReadResult::Failed:
            break;
    }
    m_error = error;
    return false;
}

bool TPasswordKeeper::Write(std::string& id, const std::string& password)
{
    if (id.empty())
        id = NewId();
    for (const auto& [known, value] : m_cache)
        if (known == id && value == password)
            return true;  // the keyring holds it already
    if (!Available())
        return false;
    std::string error;
    if (!m_vault->Write(id, password, error)) {
        m_error = error;
        return false;
    }
    std::erase_if(m_cache, [&](const auto& e) { return e.first == id; });
    m_cache.emplace_back(id, password);
    return true;
}

void TPasswordKeeper::Remove(const std::string& id)
{
    std::erase_if(m_cache, [&](const auto& e) { return e.first == id; });
    std::string error;
    if (Available() && !m_vault->Remove(id, error))
        m_error = error;
}

std::string TPasswordKeeper::TakeError()
{
    return std::exchange(m_error, std::string());
}
