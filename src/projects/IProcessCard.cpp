#include "IProcessCard.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

ExecutiveProcess ExecutiveProcess::make(uint64_t pid, const QString& name)
{
    ExecutiveProcess process;
    process.pid = pid;
    process.setName(name);
    return process;
}

void ExecutiveProcess::setName(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    qsizetype n = std::min<qsizetype>(bytes.size(), sizeof(pname) - 1);
    // Never end inside a character: step back over continuation bytes of a cut character.
    if (n < bytes.size()) {
        while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memset(pname, 0, sizeof(pname));
    std::memcpy(pname, bytes.constData(), static_cast<size_t>(n));
}

QString ExecutiveProcess::name() const
{
    return QString::fromUtf8(pname, static_cast<qsizetype>(strnlen(pname, sizeof(pname))));
}

bool IProcessCard::isSector(ProcessCardSector sector)
{
    const int s = static_cast<int>(sector);
    return s >= 0 && s < kProcessCardSectorCount;
}

void IProcessCard::clear()
{
    for (auto& word : _sector)
        word.store(0);
    std::lock_guard lock(m_executiveMutex);
    _executiveProcess.pid = 0;
}

void IProcessCard::setExecutiveProcess(const ExecutiveProcess& process)
{
    std::lock_guard lock(m_executiveMutex);
    _executiveProcess = process;
    _executiveProcess.pname[sizeof(_executiveProcess.pname) - 1] = '\0';
}

ExecutiveProcess IProcessCard::executiveProcess() const
{
    std::lock_guard lock(m_executiveMutex);
    return _executiveProcess;
}

void IProcessCard::addFlag(uint64_t flag, ProcessCardSector toSector)
{
    if (isSector(toSector))
        _sector[static_cast<size_t>(toSector)].fetch_or(flag);
}

void IProcessCard::removeFlag(uint64_t flag, ProcessCardSector fromSector)
{
    if (isSector(fromSector))
        _sector[static_cast<size_t>(fromSector)].fetch_and(~flag);
}

void IProcessCard::setFlag(uint64_t flag, ProcessCardSector toSector)
{
    if (isSector(toSector))
        _sector[static_cast<size_t>(toSector)].store(flag);
}

uint64_t IProcessCard::sector(ProcessCardSector sector) const
{
    return isSector(sector) ? _sector[static_cast<size_t>(sector)].load() : 0;
}

void IProcessCard::set(const ProcessCardFlag& flag)
{
    setFlag(static_cast<uint64_t>(flag.value), flag.sector);
}

void IProcessCard::add(const ProcessCardFlag& flag)
{
    addFlag(static_cast<uint64_t>(flag.value), flag.sector);
}

void IProcessCard::remove(const ProcessCardFlag& flag)
{
    removeFlag(static_cast<uint64_t>(flag.value), flag.sector);
}

bool IProcessCard::isFlagIn(const ProcessCardFlag& flag, uint64_t word)
{
    if (flag.value == 0)
        return word == 0;
    return ((static_cast<uint64_t>(flag.value) & word) & 0xFF) != 0;
}

bool IProcessCard::isFlag(const ProcessCardFlag& flag) const
{
    return isSector(flag.sector) && isFlagIn(flag, sector(flag.sector));
}

bool IProcessCard::isOnlyFlag(const ProcessCardFlag& flag) const
{
    return isSector(flag.sector) && sector(flag.sector) == static_cast<uint64_t>(flag.value);
}

bool IProcessCard::isProcessCardFlag(const ProcessCardFlag* flag)
{
    return flag
        && std::find(kProcessCardFlags.begin(), kProcessCardFlags.end(), flag) != kProcessCardFlags.end();
}

QString IProcessCard::description() const
{
    // One snapshot of the sectors, so that each line shows one consistent word.
    std::array<uint64_t, kProcessCardSectorCount> words {};
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = _sector[i].load();

    auto label = [](ProcessCardSector sector) -> const char* {
        switch (sector) {
        case ProcessCardSector::State:
            return "STATE: \t   ";
        case ProcessCardSector::Phase:
            return "PHASE:\t   ";
        case ProcessCardSector::Reason:
            return "REASON:\t   ";
        case ProcessCardSector::Error:
            return "ERRORS:\t   ";
        case ProcessCardSector::Warning:
            return "WARNINGS:  ";
        case ProcessCardSector::Task:
            return "TASK:\t   ";
        case ProcessCardSector::Analytic:
            return "ANALYTIC:  ";
        }
        return "";
    };

    std::string text;
    const ProcessCardFlag* previous = nullptr;
    for (const ProcessCardFlag* flag : kProcessCardFlags) {
        const uint64_t word = words[static_cast<size_t>(flag->sector)];
        const bool shown
            = (flag->value != 0 && isFlagIn(*flag, word)) || word == static_cast<uint64_t>(flag->value);
        if (!shown)
            continue;
        if (!previous || previous->sector != flag->sector) {
            char number[32];
            std::snprintf(number, sizeof(number), "(0x%.6llx) ", static_cast<unsigned long long>(word));
            text += '\n';
            text += label(flag->sector);
            text += number;
        }
        text += flag->name;
        text += ' ';
        previous = flag;
    }
    return QString::fromStdString(text);
}
