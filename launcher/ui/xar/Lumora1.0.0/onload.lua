-- Lumora1.0.0, the launcher's default skin. It registers "ToLua", through
-- which the launcher raises its events, and shows the update view.
--
-- ToLua gets {name = <event>, data = <JSON text>} and returns -1 when the
-- event could not be handled, 0 for an event this skin does not implement,
-- 1 when it was handled.

-- dkjson (Debian's lua-dkjson, shipped beside this file) keeps the
-- launcher's code page 936 bytes as they are; the launcher escapes only
-- control characters, never a character as \u.
local json = require "dkjson"
local view = require "update_view"

local function is_number(v) return type(v) == "number" end

local events = {}

-- {"old": installed version, "new": version being installed}
function events.ShowUpdateLoad(data)
  if type(data) ~= "table" or not is_number(data.old) or not is_number(data.new) then
    return -1
  end
  view.show_update(data.old, data.new)
  return 1
end

-- {"id": request tag, "status": 3 done / 4 failed / 5 reconnecting / other,
-- "size": total bytes (-1 or 0 when unknown), "load": bytes so far, "speed":
-- bytes a second (0 while unknown), "left": seconds (-1 while unknown)}.
-- "speed" and "left" came later: without them the view shows the rest.
function events.OnURLDownload(data)
  if type(data) ~= "table" or not is_number(data.status) or not is_number(data.size)
      or not is_number(data.load) then
    return -1
  end
  local speed = is_number(data.speed) and data.speed or nil
  local left = is_number(data.left) and data.left or nil
  view.download(data.status, data.size, data.load, speed, left)
  return 1
end

function events.HideWindow()
  view.hide()
  return 1
end

-- {"data": true}
function events.TopWindow()
  view.top()
  return 1
end

local function ToLua(call)
  if type(call) ~= "table" or type(call.name) ~= "string" then return -1 end
  local handle = events[call.name]
  if not handle then return 0 end
  local text = call.data == nil and "null" or call.data
  local data, stop, err = json.decode(text)
  -- dkjson stops after the first value: anything but blanks after it is bad
  -- data too. (Its pure-Lua scanner is lenient with separators, e.g. "[1,]";
  -- the launcher writes its events with a strict writer.)
  if not err and type(text) == "string" and not string.find(text, "^%s*$", stop) then
    err = "text after the JSON value at character " .. tostring(stop)
  end
  if err then
    print("Lumora1.0.0: " .. call.name .. ": " .. err)
    return -1
  end
  local ok, result = pcall(handle, data)
  if not ok then
    print("Lumora1.0.0: " .. call.name .. ": " .. tostring(result))
    return -1
  end
  return result
end

assert(Orlune and Orlune.LuaChunkReg, "the launcher gave no Orlune.LuaChunkReg")
Orlune.LuaChunkReg:RegChunk("ToLua", ToLua)
