#pragma once
// Where passwords are kept when the INI files hold only a marker: the
// desktop's keyring (desktop/Keyring.h). Every call returns within the
// vault's own bound; a vault that is not available fails every call.

#include <string>
#include <utility>
#include <vector>

class IPasswordVault {
public:
    virtual ~IPasswordVault() = default;
    // A keyring is running now (checked without starting one).
    virtual bool Available() = 0;
    enum class ReadResult { Found, NotFound, Failed };
    virtual ReadResult Read(const std::string& id, std::string& password, std::string& error) = 0;
    virtual bool Write(const std::string& id, const std::string& password, std::string& error) = 0;
    virtual bool Remove(const std::string& id, std::string& error) = 0;
};

// The passwords of the data folder's INI files in a vault: an item's id
// stands in the file, the password in the vault. Ids are made here, random,
// so that a renamed site or a moved data folder keeps its item.
class TPasswordKeeper {
public:
    void SetVault(IPasswordVault* vault) { m_vault = vault; }
    IPasswordVault* Vault() const { return m_vault; }
    bool Available() const { return m_vault && m_vault->Available(); }
    static std::string NewId();
    // Read through a cache: a site's password is asked for often.
    bool Read(const std::string& id, std::string& password);
    // id: the item's id, made when empty; false when the vault failed.
    bool Write(std::string& id, const std::string& password);
    void Remove(const std::string& id);
    // The vault's last failure, for the log; cleared by TakeError.
    std::string TakeError();

private:
    IPasswordVault* m_vault = nullptr;
    std::string m_error;
    std::vector<std::pair<std::string, std::string>> m_cache;  // id, password
};
