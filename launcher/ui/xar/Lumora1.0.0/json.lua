-- A small JSON decoder for the documents the launcher hands to the skin.
-- Strings are taken byte by byte, so text in the system code page (whose
-- second bytes may be a backslash, written escaped) comes back unchanged;
-- \u escapes become UTF-8.
--
--   local value, err = json.decode(text)   -- nil and a message on failure
--   json.null                              -- what a JSON null decodes to

local json = {}

json.null = setmetatable({}, { __tostring = function() return "null" end })

local MAX_DEPTH = 200

local escapes = {
  ['"'] = '"', ["\\"] = "\\", ["/"] = "/",
  b = "\b", f = "\f", n = "\n", r = "\r", t = "\t",
}

local function fail(pos, what)
  error({ json = true, message = what .. " at byte " .. pos }, 0)
end

local function skip(text, pos)
  return (select(2, string.find(text, "^[ \t\r\n]*", pos))) + 1
end

local function utf8(code)
  if code < 0x80 then
    return string.char(code)
  elseif code < 0x800 then
    return string.char(0xc0 + math.floor(code / 0x40), 0x80 + code % 0x40)
  elseif code < 0x10000 then
    return string.char(0xe0 + math.floor(code / 0x1000), 0x80 + math.floor(code / 0x40) % 0x40,
                       0x80 + code % 0x40)
  end
  return string.char(0xf0 + math.floor(code / 0x40000), 0x80 + math.floor(code / 0x1000) % 0x40,
                     0x80 + math.floor(code / 0x40) % 0x40, 0x80 + code % 0x40)
end

local function hex4(text, pos)
  local digits = string.match(text, "^%x%x%x%x", pos)
  if not digits then fail(pos, "bad \\u escape") end
  return tonumber(digits, 16)
end

local function decode_string(text, pos)
  local parts = {}
  pos = pos + 1  -- the opening quote
  while true do
    local at = string.find(text, '[%z\1-\31"\\]', pos)
    if not at then fail(pos, "unterminated string") end
    parts[#parts + 1] = string.sub(text, pos, at - 1)
    local c = string.sub(text, at, at)
    if c == '"' then
      return table.concat(parts), at + 1
    elseif c ~= "\\" then
      fail(at, "control character in string")
    end
    local e = string.sub(text, at + 1, at + 1)
    if e == "u" then
      local code = hex4(text, at + 2)
      pos = at + 6
      if code >= 0xd800 and code <= 0xdbff then
        if string.sub(text, pos, pos + 1) ~= "\\u" then fail(pos, "lone surrogate") end
        local low = hex4(text, pos + 2)
        if low < 0xdc00 or low > 0xdfff then fail(pos, "lone surrogate") end
        code = 0x10000 + (code - 0xd800) * 0x400 + (low - 0xdc00)
        pos = pos + 6
      elseif code >= 0xdc00 and code <= 0xdfff then
        fail(at, "lone surrogate")
      end
      parts[#parts + 1] = utf8(code)
    elseif escapes[e] then
      parts[#parts + 1] = escapes[e]
      pos = at + 2
    else
      fail(at, "bad escape")
    end
  end
end

local decode_value

local function decode_array(text, pos, depth)
  local array = {}
  pos = skip(text, pos + 1)
  if string.sub(text, pos, pos) == "]" then return array, pos + 1 end
  while true do
    array[#array + 1], pos = decode_value(text, pos, depth + 1)
    pos = skip(text, pos)
    local c = string.sub(text, pos, pos)
    if c == "]" then return array, pos + 1 end
    if c ~= "," then fail(pos, "',' or ']' expected") end
    pos = skip(text, pos + 1)
  end
end

local function decode_object(text, pos, depth)
  local object = {}
  pos = skip(text, pos + 1)
  if string.sub(text, pos, pos) == "}" then return object, pos + 1 end
  while true do
    if string.sub(text, pos, pos) ~= '"' then fail(pos, "member name expected") end
    local key
    key, pos = decode_string(text, pos)
    pos = skip(text, pos)
    if string.sub(text, pos, pos) ~= ":" then fail(pos, "':' expected") end
    object[key], pos = decode_value(text, skip(text, pos + 1), depth + 1)
    pos = skip(text, pos)
    local c = string.sub(text, pos, pos)
    if c == "}" then return object, pos + 1 end
    if c ~= "," then fail(pos, "',' or '}' expected") end
    pos = skip(text, pos + 1)
  end
end

local literals = { ["true"] = true, ["false"] = false }

-- JSON's number form: no leading zeros, digits after a point, an exponent
-- with digits.
local function is_number(token)
  local rest = string.match(token, "^-?(.*)$")
  local whole = string.match(rest, "^0") or string.match(rest, "^[1-9]%d*")
  if not whole then return false end
  rest = string.sub(rest, #whole + 1)
  local fraction = string.match(rest, "^%.%d+")
  if fraction then rest = string.sub(rest, #fraction + 1) end
  local exponent = string.match(rest, "^[eE][-+]?%d+")
  if exponent then rest = string.sub(rest, #exponent + 1) end
  return rest == ""
end

decode_value = function(text, pos, depth)
  if depth > MAX_DEPTH then fail(pos, "nested too deeply") end
  local c = string.sub(text, pos, pos)
  if c == "{" then return decode_object(text, pos, depth) end
  if c == "[" then return decode_array(text, pos, depth) end
  if c == '"' then return decode_string(text, pos) end
  local word = string.match(text, "^%a+", pos)
  if word then
    if literals[word] ~= nil then return literals[word], pos + #word end
    if word == "null" then return json.null, pos + 4 end
    fail(pos, "unknown word '" .. word .. "'")
  end
  local number = string.match(text, "^-?%d[%d%.eE+-]*", pos)
  if number then
    if not is_number(number) then fail(pos, "bad number") end
    return tonumber(number), pos + #number
  end
  if c == "" then fail(pos, "value expected, end of text found") end
  fail(pos, "value expected")
end

function json.decode(text)
  if type(text) ~= "string" then return nil, "JSON text expected, got " .. type(text) end
  local ok, value, pos = pcall(function()
    local v, p = decode_value(text, skip(text, 1), 1)
    return v, skip(text, p)
  end)
  if not ok then
    if type(value) == "table" and value.json then return nil, value.message end
    error(value, 0)  -- not a decoding error: a fault of this module
  end
  if pos <= #text then return nil, "text after the value at byte " .. pos end
  return value
end

return json
