#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quantiro::ifstats {

// One row of the interface table as a plain record. A new record holds empty texts,
// zero numbers and the zero date. OctetsReceived and OctetsSent hold kilobytes
// (1024 bytes) whatever their names say.
class CInterface {
public:
    using Date = std::chrono::system_clock::time_point;

    const std::string& InterfaceDescription() const { return m_interfaceDescription; }
    void SetInterfaceDescription(std::string strNewValue) {
        m_interfaceDescription = std::move(strNewValue);
    }
    std::int32_t OutputQueueLength() const { return m_outputQueueLength; }
    void SetOutputQueueLength(std::int32_t lngNewValue) { m_outputQueueLength = lngNewValue; }
    std::int32_t OutgoingErrors() const { return m_outgoingErrors; }
    void SetOutgoingErrors(std::int32_t lngNewValue) { m_outgoingErrors = lngNewValue; }
    std::int32_t DiscardedOutgoingPackets() const { return m_discardedOutgoingPackets; }
    void SetDiscardedOutgoingPackets(std::int32_t lngNewValue) {
        m_discardedOutgoingPackets = lngNewValue;
    }
    std::int32_t NonunicastPacketsSent() const { return m_nonunicastPacketsSent; }
    void SetNonunicastPacketsSent(std::int32_t lngNewValue) {
        m_nonunicastPacketsSent = lngNewValue;
    }
    std::int32_t UnicastPacketsSent() const { return m_unicastPacketsSent; }
    void SetUnicastPacketsSent(std::int32_t lngNewValue) { m_unicastPacketsSent = lngNewValue; }
    std::int32_t OctetsSent() const { return m_octetsSent; }
    void SetOctetsSent(std::int32_t lngNewValue) { m_octetsSent = lngNewValue; }
    std::int32_t UnknownProtocolPackets() const { return m_unknownProtocolPackets; }
    void SetUnknownProtocolPackets(std::int32_t lngNewValue) {
        m_unknownProtocolPackets = lngNewValue;
    }
    std::int32_t IncomingErrors() const { return m_incomingErrors; }
    void SetIncomingErrors(std::int32_t lngNewValue) { m_incomingErrors = lngNewValue; }
    std::int32_t DiscardedIncomingPackets() const { return m_discardedIncomingPackets; }
    void SetDiscardedIncomingPackets(std::int32_t lngNewValue) {
        m_discardedIncomingPackets = lngNewValue;
    }
    std::int32_t NonunicastPacketsReceived() const { return m_nonunicastPacketsReceived; }
    void SetNonunicastPacketsReceived(std::int32_t lngNewValue) {
        m_nonunicastPacketsReceived = lngNewValue;
    }
    std::int32_t MaximumTransmissionUnit() const { return m_maximumTransmissionUnit; }
    void SetMaximumTransmissionUnit(std::int32_t lngNewValue) {
        m_maximumTransmissionUnit = lngNewValue;
    }
    std::int32_t UnicastPacketsReceived() const { return m_unicastPacketsReceived; }
    void SetUnicastPacketsReceived(std::int32_t lngNewValue) {
        m_unicastPacketsReceived = lngNewValue;
    }
    std::int32_t OctetsReceived() const { return m_octetsReceived; }
    void SetOctetsReceived(std::int32_t lngNewValue) { m_octetsReceived = lngNewValue; }
    Date LastChange() const { return m_lastChange; }
    void SetLastChange(Date datNewValue) { m_lastChange = datNewValue; }
    std::int32_t OperationalStatus() const { return m_operationalStatus; }
    void SetOperationalStatus(std::int32_t NewValue) { m_operationalStatus = NewValue; }
    std::int32_t AdminStatus() const { return m_adminStatus; }
    void SetAdminStatus(std::int32_t NewValue) { m_adminStatus = NewValue; }
    const std::string& AdapterAddress() const { return m_adapterAddress; }
    void SetAdapterAddress(std::string strNewValue) { m_adapterAddress = std::move(strNewValue); }
    std::int32_t Speed() const { return m_speed; }
    void SetSpeed(std::int32_t lngNewValue) { m_speed = lngNewValue; }
    std::int32_t InterfaceType() const { return m_interfaceType; }
    void SetInterfaceType(std::int32_t NewValue) { m_interfaceType = NewValue; }
    std::int32_t InterfaceIndex() const { return m_interfaceIndex; }
    void SetInterfaceIndex(std::int32_t lngNewValue) { m_interfaceIndex = lngNewValue; }
    const std::string& InterfaceName() const { return m_interfaceName; }
    void SetInterfaceName(std::string strNewValue) { m_interfaceName = std::move(strNewValue); }

    // The one-line description of a property, by its name; empty for an unknown name.
    static std::string_view HelpText(std::string_view property);

private:
    std::string m_interfaceName;
    std::int32_t m_interfaceIndex = 0;
    std::int32_t m_interfaceType = 0;
    std::int32_t m_speed = 0;
    std::string m_adapterAddress;
    std::int32_t m_adminStatus = 0;
    std::int32_t m_operationalStatus = 0;
    Date m_lastChange{};
    std::int32_t m_octetsReceived = 0;
    std::int32_t m_unicastPacketsReceived = 0;
    std::int32_t m_maximumTransmissionUnit = 0;
    std::int32_t m_nonunicastPacketsReceived = 0;
    std::int32_t m_discardedIncomingPackets = 0;
    std::int32_t m_incomingErrors = 0;
    std::int32_t m_unknownProtocolPackets = 0;
    std::int32_t m_octetsSent = 0;
    std::int32_t m_unicastPacketsSent = 0;
    std::int32_t m_nonunicastPacketsSent = 0;
    std::int32_t m_discardedOutgoingPackets = 0;
    std::int32_t m_outgoingErrors = 0;
    std::int32_t m_outputQueueLength = 0;
    std::string m_interfaceDescription;
};

} // namespace quantiro::ifstats
