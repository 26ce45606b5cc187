-- Wireshark dissector for the Sentova device: commands to UDP port 4365, the
-- device's replies, event notifications and trigger records, and the laser data
-- packets (on the laser port, 4366 by default, and on any port when a packet
-- begins with "EBRBEP").
--
-- Install: copy this file into Wireshark's personal Lua plugin folder (see
-- README.md), or load it for one run with  tshark -X lua_script:sentova.lua

local COMMAND_PORT = 4365
local DEFAULT_LASER_PORT = 4366
local RECORD_SIZE = 22

-- ---------------------------------------------------------------- protocols

local sentova = Proto("sentova", "Sentova device protocol")
local laser = Proto("sentova_laser", "Sentova laser data")

local error_texts = {
    [0] = "No Error.",
    [1] = "Invalid Argument Length",
    [2] = "Argument Out Of Range",
    [3] = "Not Ready",
    [4] = "Not Homed",
    [5] = "Invalid Argument",
    [6] = "Unknown Command",
    [7] = "Invalid Command",
    [8] = "Scan Too Sparse",
    [9] = "Busy handling another client",
    [10] = "Indexed a bad flash page",
    [11] = "Bad key for the flash page",
    [12] = "Busy running stabilisation",
    [251] = "SVLibrary incompatible with the Firmware version ",
    [252] = "Invalid Callback",
    [253] = "Sentova driver busy",
    [254] = "Timeout when attempting to communicate with sentova.",
    [255] = "Other Error",
}

local reply_classes = {
    EA = "acknowledged",
    ER = "acknowledged with data",
    EE = "error",
    EB = "notification or data",
}

local notification_kinds = {
    EBAACK = 0,
    EBACNG = 1,
    EBAANG = 2,
    EBADRT = 3,
}

local parameter_names = {
    [0] = "data port",
    [1] = "LX30 measurement mode",
    [2] = "LX30 target selection",
    [3] = "LX20 sample rate",
    [4] = "LX20 averaged samples",
    [5] = "LX20 gain",
}

local yes_no = {[0] = "false", [1] = "true"}

local f = {
    direction = ProtoField.string("sentova.direction", "Direction"),
    code = ProtoField.string("sentova.code", "Code"),
    command = ProtoField.string("sentova.command", "Command"),
    operation = ProtoField.string("sentova.operation", "Operation"),
    reply_class = ProtoField.string("sentova.reply.class", "Reply class"),
    reply_stem = ProtoField.string("sentova.reply.stem", "Command answered (stem)"),
    error = ProtoField.uint8("sentova.error", "Error code", base.DEC, error_texts),
    error_text = ProtoField.string("sentova.error.text", "Error text"),

    azimuth = ProtoField.double("sentova.azimuth", "Azimuth (degrees)"),
    elevation = ProtoField.double("sentova.elevation", "Elevation (degrees)"),
    az_min = ProtoField.double("sentova.az_min", "Azimuth minimum (degrees)"),
    az_max = ProtoField.double("sentova.az_max", "Azimuth maximum (degrees)"),
    el_min = ProtoField.double("sentova.el_min", "Elevation minimum (degrees)"),
    el_max = ProtoField.double("sentova.el_max", "Elevation maximum (degrees)"),
    speed = ProtoField.double("sentova.speed", "Speed"),
    scan_speed = ProtoField.double("sentova.scan_speed", "Scan speed (Hz)"),
    acceleration = ProtoField.double("sentova.acceleration", "Acceleration"),
    lines = ProtoField.double("sentova.lines", "Number of lines"),
    target = ProtoField.double("sentova.target", "Stabilised target angle (degrees)"),
    target_error = ProtoField.double("sentova.target_error", "Stabilised target error (degrees)"),
    roll = ProtoField.double("sentova.roll", "Stabilised roll (degrees)"),
    gain = ProtoField.uint8("sentova.gain", "Laser gain"),
    page = ProtoField.uint8("sentova.page", "Flash page"),
    flash_data = ProtoField.bytes("sentova.flash_data", "Flash data"),
    laser_a = ProtoField.uint16("sentova.laser.a", "Laser argument a"),
    laser_b = ProtoField.uint16("sentova.laser.b", "Laser argument b"),
    laser_flag = ProtoField.uint8("sentova.laser.flag", "Laser flag", base.DEC, yes_no),
    laser_pad = ProtoField.uint8("sentova.laser.pad", "Padding"),
    laser_d = ProtoField.uint16("sentova.laser.d", "Laser argument d"),
    buffer = ProtoField.uint8("sentova.buffer", "Command buffer (a)"),
    event = ProtoField.uint8("sentova.event", "Event (b)"),
    event_flag = ProtoField.uint8("sentova.event.flag", "Event flag", base.DEC, yes_no),
    frequency = ProtoField.uint16("sentova.frequency", "Timer frequency"),
    stored = ProtoField.bytes("sentova.stored_command", "Stored command"),
    io_line = ProtoField.uint8("sentova.io.n", "Isolated I/O line"),
    io_a = ProtoField.uint8("sentova.io.a", "Isolated I/O value a"),
    io_b = ProtoField.uint8("sentova.io.b", "Isolated I/O value b"),
    trigger_p = ProtoField.uint32("sentova.trigger.p", "Trigger argument p"),
    trigger_q = ProtoField.uint32("sentova.trigger.q", "Trigger argument q"),
    ip_settings = ProtoField.string("sentova.ip.settings", "IP settings"),
    ip_address = ProtoField.ipv4("sentova.ip.address", "IP address"),
    param = ProtoField.none("sentova.param", "Laser stream parameter"),
    param_id = ProtoField.int8("sentova.param.id", "Parameter id", base.DEC, parameter_names),
    param_value = ProtoField.int32("sentova.param.value", "Parameter value"),
    data_port = ProtoField.uint16("sentova.data_port", "Laser data port"),

    serial = ProtoField.string("sentova.serial", "Serial number"),
    state = ProtoField.string("sentova.state", "Motion state"),
    status_first = ProtoField.uint8("sentova.status.first", "Event status first", base.DEC, yes_no),
    status_second = ProtoField.uint8("sentova.status.second", "Event status second", base.DEC,
                                     yes_no),
    captured_first = ProtoField.double("sentova.captured.first", "Captured angle 1 (degrees)"),
    captured_second = ProtoField.double("sentova.captured.second", "Captured angle 2 (degrees)"),
    data = ProtoField.bytes("sentova.data", "Data"),

    notification_kind = ProtoField.uint8("sentova.notification.kind", "Notification kind"),
    notification_event = ProtoField.uint8("sentova.notification.event", "Event number"),
    notification_data = ProtoField.bytes("sentova.notification.data", "Event data"),

    trigger_index = ProtoField.uint32("sentova.trigger.index", "Trigger index"),
    trigger_tstamp = ProtoField.uint32("sentova.trigger.tstamp", "Trigger time stamp"),
    trigger_azimuth = ProtoField.double("sentova.trigger.azimuth", "Trigger azimuth (degrees)"),
    trigger_elevation = ProtoField.double("sentova.trigger.elevation",
                                          "Trigger elevation (degrees)"),
    trigger_exp = ProtoField.uint32("sentova.trigger.exp", "Trigger Exp"),
}
sentova.fields = {}
for _, field in pairs(f) do
    table.insert(sentova.fields, field)
end

local short_expert = ProtoExpert.new("sentova.short", "Datagram shorter than its fields",
                                     expert.group.MALFORMED, expert.severity.ERROR)
local long_expert = ProtoExpert.new("sentova.extra", "Bytes beyond the command's fields",
                                    expert.group.PROTOCOL, expert.severity.WARN)
local error_expert = ProtoExpert.new("sentova.error_reply", "Device reported an error",
                                     expert.group.RESPONSE_CODE, expert.severity.NOTE)
local unknown_expert = ProtoExpert.new("sentova.unknown", "Unknown command or reply code",
                                       expert.group.UNDECODED, expert.severity.WARN)
sentova.experts = {short_expert, long_expert, error_expert, unknown_expert}

local lf = {
    header = ProtoField.string("sentova_laser.header", "Header"),
    records = ProtoField.uint32("sentova_laser.records", "Point records"),
    trailing = ProtoField.bytes("sentova_laser.trailing", "Bytes after the last whole record"),
    record = ProtoField.none("sentova_laser.record", "Point record"),
    timestamp = ProtoField.uint32("sentova_laser.timestamp", "Time stamp"),
    azimuth = ProtoField.double("sentova_laser.azimuth", "Azimuth (degrees)"),
    elevation = ProtoField.double("sentova_laser.elevation", "Elevation (degrees)"),
    range = ProtoField.int32("sentova_laser.range", "Range"),
    amplitude = ProtoField.uint16("sentova_laser.amplitude", "Amplitude"),
    reflectance = ProtoField.int16("sentova_laser.reflectance", "Reflectance"),
    pulse_shape = ProtoField.int16("sentova_laser.pulse_shape_deviation", "Pulse shape deviation"),
}
laser.fields = {}
for _, field in pairs(lf) do
    table.insert(laser.fields, field)
end
local discarded_expert = ProtoExpert.new("sentova_laser.discarded",
                                         "Begins with 'E' but not \"EBRBEP\": discarded by receivers",
                                         expert.group.MALFORMED, expert.severity.WARN)
laser.experts = {discarded_expert}

laser.prefs.port = Pref.uint("Laser data port", DEFAULT_LASER_PORT,
                             "UDP port on which the host receives laser data packets")

-- ---------------------------------------------------------------- encodings

-- Angle coding: a signed 32-bit count of 360 / 2^32 degree.
local function angle(range)
    return range:int() * 360.0 / 4294967296.0
end

-- 16.16 fixed point: speeds read unsigned, accelerations and line counts signed.
local function unsigned_fixed(range)
    return range:uint() / 65536.0
end

local function signed_fixed(range)
    return range:int() / 65536.0
end

-- ---------------------------------------------------------------- commands

-- Each argument: {field, size, decoder}. A decoder of nil adds the field from
-- the bytes as they stand. Sizes of -1 take the rest of the datagram.
local function A(field) return {field, 4, angle} end
local function U(field) return {field, 4, unsigned_fixed} end
local function S(field) return {field, 4, signed_fixed} end
local function B(field) return {field, 1} end
local function W(field) return {field, 2} end
local function D(field) return {field, 4} end

local commands = {
    SVCQRE = {"Get serial number"},
    SVHOME = {"Home"},
    SVSTOP = {"Stop"},
    SVSEAC = {"Set acceleration", S(f.acceleration)},
    SVGEAA = {"Get aperture angles"},
    SVSEAA = {"Set aperture angles", A(f.azimuth), A(f.elevation), U(f.speed)},
    SVTRAA = {"Track aperture angles", A(f.azimuth), A(f.elevation), U(f.speed)},
    SVSFFS = {"Start full field scan", U(f.scan_speed), S(f.lines)},
    SVSBES = {"Start bounded elevation scan", U(f.scan_speed), A(f.el_min), A(f.el_max),
              S(f.lines)},
    SVSRES = {"Start region scan", A(f.az_min), A(f.az_max), A(f.el_min), A(f.el_max),
              U(f.scan_speed), S(f.lines)},
    SVRRBE = {"Start laser stream", "parameters"},
    SVSRBE = {"Stop laser stream"},
    SVRNLS = {"Start laser", W(f.laser_a), W(f.laser_b), B(f.laser_flag), B(f.laser_pad),
              W(f.laser_d)},
    SVSTLS = {"Stop laser"},
    SVSRUN = {"Start stabilisation"},
    SVSSTP = {"Stop stabilisation"},
    SVSSTG = {"Set stabilised target", A(f.target), A(f.target), A(f.target)},
    SVSGTG = {"Get stabilised target"},
    SVSGRL = {"Get stabilised roll"},
    SVSSSP = {"Set stabilised speed", U(f.speed)},
    SVMONN = {"Motors on"},
    SVMOFF = {"Motors off"},
    SVSLGA = {"Set laser gain", B(f.gain)},
    SVSGER = {"Get stabilised target error"},
    SVSTST = {"SVSTST"},
    SVGUFP = {"Read flash page", B(f.page)},
    SVSUFP = {"Write flash page", B(f.page), {f.flash_data, -1}},
    SVEUFP = {"Erase flash page", B(f.page)},
    SVERST = {"Reset events"},
    SVPPPP = {"Test"},
    SVEENB = {"Enable event", B(f.event), B(f.buffer), B(f.event_flag)},
    SVEDIS = {"Disable event", B(f.event), B(f.buffer)},
    SVESTS = {"Event status", B(f.event), B(f.buffer)},
    SVESTM = {"Stop event timer"},
    SVERTM = {"Start event timer", W(f.frequency)},
    SVEGTM = {"Get event timer frequency"},
    SVECCF = {"Configure command buffer", B(f.buffer), "stored"},
    SVIIOS = {"Set isolated I/O", B(f.io_line)},
    SVIIOT = {"Toggle isolated I/O", B(f.io_line)},
    SVIIOG = {"Get isolated I/O"},
    SVIOSE = {"Set isolated I/O event input", B(f.io_a), B(f.io_b)},
    SVIOGE = {"Get isolated I/O event input"},
    SVGCAA = {"Get captured angles"},
    SVGMTN = {"Get motion state"},
    SVSEAT = {"Set aperture angles with trigger", A(f.azimuth), A(f.elevation), U(f.speed),
              D(f.trigger_p), D(f.trigger_q)},
    SVTTRG = {"Test high-performance trigger", D(f.trigger_p), D(f.trigger_q)},
    SVSIPC = {"Set IP settings", "ipsettings"},
}

local function operation_of(code)
    local c = commands[code]
    return c and c[1] or nil
end

local dissect_command

-- Adds the parameters; returns their summary.
local function add_parameters(tvb, tree, offset)
    local n = 0
    local port = nil
    while offset + 5 <= tvb:len() do
        local id = tvb(offset, 1):int()
        local value = tvb(offset + 1, 4):int()
        local name = parameter_names[id] or "parameter"
        local sub = tree:add(f.param, tvb(offset, 5))
        sub:set_text(string.format("Parameter %d (%s) = %d", id, name, value))
        sub:add(f.param_id, tvb(offset, 1))
        sub:add(f.param_value, tvb(offset + 1, 4))
        if id == 0 then
            port = value % 65536
            sub:add(f.data_port, tvb(offset + 1, 4), port)
        end
        offset = offset + 5
        n = n + 1
    end
    if offset < tvb:len() then
        tree:add_proto_expert_info(short_expert, "parameter list ends in a partial parameter")
    end
    local summary = n .. (n == 1 and " parameter" or " parameters")
    if port then
        summary = summary .. ", data port " .. port
    end
    return summary
end

-- Adds the arguments of a command at offset 6 of tvb; returns a short summary.
local function add_arguments(tvb, pinfo, tree, layout)
    local offset = 6
    local summary = {}
    for i = 2, #layout do
        local arg = layout[i]
        if arg == "parameters" then
            table.insert(summary, add_parameters(tvb, tree, offset))
            return table.concat(summary, ", ")
        elseif arg == "stored" then
            if offset < tvb:len() then
                local stored = tvb(offset)
                local sub = tree:add(f.stored, stored)
                local name = dissect_command(stored:tvb(), pinfo, sub, true)
                sub:set_text("Stored command: " .. name)
                table.insert(summary, name)
            end
            return table.concat(summary, ", ")
        elseif arg == "ipsettings" then
            local rest = tvb:len() - offset
            if rest < 4 then
                tree:add_proto_expert_info(short_expert, "no room for the 4-byte address")
                return ""
            end
            tree:add(f.ip_settings, tvb(offset, rest - 4))
            tree:add(f.ip_address, tvb(tvb:len() - 4, 4))
            return tostring(tvb(tvb:len() - 4, 4):ipv4())
        end
        local field, size, decode = arg[1], arg[2], arg[3]
        if size == -1 then
            size = tvb:len() - offset
        end
        if offset + size > tvb:len() then
            tree:add_proto_expert_info(short_expert, string.format(
                "%d bytes, the arguments need %d", tvb:len(), offset + size))
            return table.concat(summary, ", ")
        end
        if size > 0 then
            local range = tvb(offset, size)
            if decode then
                local value = decode(range)
                tree:add(field, range, value)
                table.insert(summary, string.format("%g", value))
            else
                tree:add(field, range)
                if size <= 4 then
                    table.insert(summary, tostring(range:uint()))
                end
            end
        end
        offset = offset + size
    end
    if offset < tvb:len() then
        tree:add_proto_expert_info(long_expert, string.format("%d bytes beyond the arguments",
                                                              tvb:len() - offset))
    end
    return table.concat(summary, ", ")
end

-- Dissects a command at the start of tvb; returns its code and operation.
dissect_command = function(tvb, pinfo, tree, nested)
    if tvb:len() < 6 then
        tree:add_proto_expert_info(short_expert, "shorter than a command code")
        return "?"
    end
    local code = tvb(0, 6):string()
    tree:add(f.command, tvb(0, 6), code)
    local layout = commands[code]
    if not layout then
        tree:add_proto_expert_info(unknown_expert, "unknown command " .. code)
        return code
    end
    tree:add(f.operation, tvb(0, 6), layout[1])
    local summary = add_arguments(tvb, pinfo, tree, layout)
    local text = code .. " " .. layout[1]
    if summary ~= "" then
        text = text .. " (" .. summary .. ")"
    end
    return text
end

-- ---------------------------------------------------------------- replies

local function add_angles(tvb, tree, offset, fields)
    for i, field in ipairs(fields) do
        local at = offset + 4 * (i - 1)
        if at + 4 > tvb:len() then
            tree:add_proto_expert_info(short_expert, "reply data shorter than its angles")
            return
        end
        tree:add(field, tvb(at, 4), angle(tvb(at, 4)))
    end
end

local reply_data = {
    GEAA = function(tvb, tree) add_angles(tvb, tree, 6, {f.azimuth, f.elevation}) end,
    SGTG = function(tvb, tree) add_angles(tvb, tree, 6, {f.target, f.target, f.target}) end,
    SGER = function(tvb, tree) add_angles(tvb, tree, 6, {f.target_error, f.target_error}) end,
    SGRL = function(tvb, tree) add_angles(tvb, tree, 6, {f.roll}) end,
    CQRE = function(tvb, tree) tree:add(f.serial, tvb(6)) end,
    GMTN = function(tvb, tree) tree:add(f.state, tvb(6)) end,
    GUFP = function(tvb, tree) tree:add(f.flash_data, tvb(6)) end,
    ESTS = function(tvb, tree)
        if tvb:len() >= 8 then
            tree:add(f.status_first, tvb(6, 1), tvb(6, 1):uint() ~= 0 and 1 or 0)
            tree:add(f.status_second, tvb(7, 1), tvb(7, 1):uint() ~= 0 and 1 or 0)
        end
    end,
    EGTM = function(tvb, tree)
        if tvb:len() >= 8 then tree:add(f.frequency, tvb(6, 2)) end
    end,
    IIOG = function(tvb, tree)
        if tvb:len() >= 8 then
            tree:add(f.io_a, tvb(6, 1))
            tree:add(f.io_b, tvb(7, 1))
        end
    end,
    GCAA = function(tvb, tree)
        if tvb:len() >= 10 then
            tree:add(f.captured_first, tvb(6, 2), tvb(6, 2):uint() / 100.0)
            tree:add(f.captured_second, tvb(8, 2), tvb(8, 2):int() / 100.0)
        end
    end,
}
reply_data.IOGE = reply_data.IIOG

local function dissect_trigger(tvb, tree)
    if tvb:len() < 26 then
        tree:add_proto_expert_info(short_expert, "trigger record needs 20 bytes")
        return "trigger record (short)"
    end
    tree:add(f.trigger_index, tvb(6, 4))
    tree:add(f.trigger_tstamp, tvb(10, 4))
    tree:add(f.trigger_azimuth, tvb(14, 4), angle(tvb(14, 4)))
    tree:add(f.trigger_elevation, tvb(18, 4), angle(tvb(18, 4)))
    tree:add(f.trigger_exp, tvb(22, 4))
    return string.format("trigger record %d, az %g, el %g", tvb(6, 4):uint(), angle(tvb(14, 4)),
                         angle(tvb(18, 4)))
end

local function dissect_reply(tvb, pinfo, tree)
    local code = tvb(0, 6):string()
    local class = code:sub(1, 2)
    local stem = code:sub(3, 6)
    tree:add(f.code, tvb(0, 6), code)
    tree:add(f.reply_class, tvb(0, 2), class .. " (" .. (reply_classes[class] or "?") .. ")")
    local kind = notification_kinds[code]
    if kind ~= nil then
        tree:add(f.direction, tvb(0, 0), "event notification")
        tree:add(f.notification_kind, tvb(0, 6), kind)
        if tvb:len() >= 7 then
            tree:add(f.notification_event, tvb(6, 1))
            if tvb:len() > 7 then
                tree:add(f.notification_data, tvb(7))
            end
            return string.format("%s event notification, kind %d, event %d", code, kind,
                                 tvb(6, 1):uint())
        end
        return code .. " event notification without event number"
    end
    if code == "EBHPTG" then
        tree:add(f.direction, tvb(0, 0), "trigger record")
        return "EBHPTG " .. dissect_trigger(tvb, tree)
    end
    tree:add(f.direction, tvb(0, 0), "reply")
    tree:add(f.reply_stem, tvb(2, 4), stem)
    local operation = operation_of("SV" .. stem)
    if operation then
        tree:add(f.operation, tvb(2, 4), operation)
    end
    local text = code .. " reply to SV" .. stem
    if class == "EE" then
        local value = tvb:len() > 6 and tvb(6, 1):uint() or 0
        if tvb:len() > 6 then
            tree:add(f.error, tvb(6, 1))
        else
            tree:add(f.error, tvb(0, 0), 0)
        end
        local message = error_texts[value] or "Unknown Error Code"
        tree:add(f.error_text, tvb(6, math.min(1, tvb:len() - 6)), message)
        tree:add_proto_expert_info(error_expert, message)
        return string.format("%s: error %d, %s", text, value, message)
    end
    if class == "ER" and tvb:len() > 6 then
        local decode = reply_data[stem]
        if decode then
            decode(tvb, tree)
        else
            tree:add(f.data, tvb(6))
        end
    elseif class ~= "EA" and class ~= "ER" and class ~= "EB" then
        tree:add_proto_expert_info(unknown_expert, "unknown reply class " .. class)
    end
    return text
end

-- ---------------------------------------------------------------- laser data

local function dissect_laser_packet(tvb, pinfo, tree)
    pinfo.cols.protocol = "Sentova laser"
    local item = tree:add(laser, tvb())
    local length = tvb:len()
    local offset = 0
    if length > 0 and tvb(0, 1):uint() == 0x45 then
        if length < 6 or tvb(0, 6):string() ~= "EBRBEP" then
            item:add_proto_expert_info(discarded_expert)
            pinfo.cols.info = "Laser data (discarded: bad header)"
            return length
        end
        item:add(lf.header, tvb(0, 6))
        offset = 6
    end
    local records = math.floor((length - offset) / RECORD_SIZE)
    item:add(lf.records, tvb(offset, 0), records)
    for i = 0, records - 1 do
        local at = offset + i * RECORD_SIZE
        local r = tvb(at, RECORD_SIZE)
        local az = angle(tvb(at + 4, 4))
        local el = angle(tvb(at + 8, 4))
        local sub = item:add(lf.record, r)
        sub:set_text(string.format("Record %d: t %u, az %.6f, el %.6f, range %d, amplitude %u", i,
                                   tvb(at, 4):uint(), az, el, tvb(at + 12, 4):int(),
                                   tvb(at + 16, 2):uint()))
        sub:add(lf.timestamp, tvb(at, 4))
        sub:add(lf.azimuth, tvb(at + 4, 4), az)
        sub:add(lf.elevation, tvb(at + 8, 4), el)
        sub:add(lf.range, tvb(at + 12, 4))
        sub:add(lf.amplitude, tvb(at + 16, 2))
        sub:add(lf.reflectance, tvb(at + 18, 2))
        sub:add(lf.pulse_shape, tvb(at + 20, 2))
    end
    local used = offset + records * RECORD_SIZE
    if used < length then
        item:add(lf.trailing, tvb(used))
    end
    pinfo.cols.info = string.format("Laser data, %d point record%s", records,
                                    records == 1 and "" or "s")
    return length
end

function laser.dissector(tvb, pinfo, tree)
    return dissect_laser_packet(tvb, pinfo, tree)
end

local function laser_heuristic(tvb, pinfo, tree)
    if tvb:len() < 6 or tvb(0, 6):string() ~= "EBRBEP" then
        return false
    end
    dissect_laser_packet(tvb, pinfo, tree)
    return true
end

-- ---------------------------------------------------------------- command port

function sentova.dissector(tvb, pinfo, tree)
    local length = tvb:len()
    if length >= 6 and tvb(0, 6):string() == "EBRBEP" then
        return dissect_laser_packet(tvb, pinfo, tree)
    end
    -- Headerless laser data sent from the device's command port to the laser port.
    if pinfo.src_port == COMMAND_PORT and pinfo.dst_port == laser.prefs.port then
        return dissect_laser_packet(tvb, pinfo, tree)
    end
    pinfo.cols.protocol = "Sentova"
    local item = tree:add(sentova, tvb())
    if length < 6 then
        item:add_proto_expert_info(short_expert, "shorter than a code")
        pinfo.cols.info = "Sentova datagram of " .. length .. " bytes (dropped by receivers)"
        return length
    end
    local first = tvb(0, 2):string()
    local text
    if first == "SV" then
        item:add(f.direction, tvb(0, 0), "command")
        text = dissect_command(tvb, pinfo, item, false)
    elseif first:sub(1, 1) == "E" then
        text = dissect_reply(tvb, pinfo, item)
    else
        item:add_proto_expert_info(unknown_expert, "neither a command nor a reply")
        text = "unknown datagram"
    end
    pinfo.cols.info = text
    item:append_text(", " .. text)
    return length
end

local udp_port = DissectorTable.get("udp.port")
local registered_laser_port = laser.prefs.port
udp_port:add(COMMAND_PORT, sentova)
udp_port:add(registered_laser_port, laser)
laser:register_heuristic("udp", laser_heuristic)

function laser.prefs_changed()
    if laser.prefs.port ~= registered_laser_port then
        udp_port:remove(registered_laser_port, laser)
        registered_laser_port = laser.prefs.port
        udp_port:add(registered_laser_port, laser)
    end
end
