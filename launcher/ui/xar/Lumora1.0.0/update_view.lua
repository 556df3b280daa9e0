-- The update view: one window with the versions, the download's progress and
-- a button that sends the launcher to the notification area. The window is
-- made on first need and then only hidden and shown again.

local view = {}

local TITLE = "Lumora 更新"
local TRAY_BUTTON = "最小化到托盘"
local TRAY_CALL = '{"op":"ChangeTrayIcon"}'

local window
local versions = "正在检查更新"  -- the first line of the status text
local progress = ""               -- the second

local function show_status()
  window:SetText(progress == "" and versions or versions .. "\r\n" .. progress)
end

-- Closing the window or its button hands the launcher to the tray: the
-- launcher then raises "HideWindow". The window hides at once all the same.
-- Without the host object there is no tray, and the window stays.
local function to_tray(w)
  if not (Lumo and Lumo.App) then
    print("Lumora1.0.0: no Lumo.App, the window stays")
    return
  end
  Lumo.App:JOP(TRAY_CALL)
  w:Hide()
end

local function ensure_window()
  if window and window:IsOpen() then return window end
  local made, err = XLUE.Window.Create { title = TITLE, text = versions, button = TRAY_BUTTON }
  if not made then error("the update window could not be made: " .. tostring(err)) end
  window = made
  window:OnClose(to_tray)
  window:OnButton(to_tray)
  return window
end

-- Whole numbers as text, without an exponent or a fraction.
local function whole(n)
  return string.format("%.0f", n)
end

function view.show_update(old, new)
  ensure_window()
  versions = "正在从版本 " .. whole(old) .. " 更新到版本 " .. whole(new)
  progress = ""
  window:SetProgress(0, 100)
  show_status()
  window:BringToFront()
end

local MB = 1024 * 1024

-- "12.3 MB"
local function megabytes(bytes)
  return string.format("%.1f MB", math.max(bytes, 0) / MB)
end

-- "1.2 MB/s" or "350 KB/s"
local function rate(bytes_per_second)
  if bytes_per_second >= MB then return string.format("%.1f MB/s", bytes_per_second / MB) end
  return string.format("%.0f KB/s", bytes_per_second / 1024)
end

-- "剩余 1:05" (minutes and seconds), "剩余 1:02:05" past an hour.
local function time_left(seconds)
  seconds = math.floor(seconds)
  local h, m, s = math.floor(seconds / 3600), math.floor(seconds / 60) % 60, seconds % 60
  if h > 0 then return string.format("剩余 %d:%02d:%02d", h, m, s) end
  return string.format("剩余 %d:%02d", m, s)
end

-- Download status 3 is done, 4 failed, 5 reconnecting; anything else is
-- under way. A size below 1 is not known yet: the bar stays where it is.
-- `speed` (bytes a second, 0 while unknown) and `left` (seconds, -1 while
-- unknown) may be absent.
function view.download(status, size, load, speed, left)
  ensure_window()
  speed = speed or 0
  left = left or -1
  if status == 3 then
    window:SetProgress(100, 100)
    progress = "下载完成, 正在安装更新"
  elseif status == 4 then
    progress = "下载失败"
  elseif status == 5 then
    progress = "连接中断, 正在重新连接..."
    if size > 0 then progress = progress .. "  " .. megabytes(load) .. " / " .. megabytes(size) end
  elseif size > 0 then
    local percent = math.floor(math.max(0, math.min(load, size)) * 100 / size)
    window:SetProgress(percent, 100)
    progress = "正在下载更新 " .. percent .. "%  " .. megabytes(load) .. " / " .. megabytes(size)
    if speed > 0 then progress = progress .. "  " .. rate(speed) end
    if left >= 0 and speed > 0 then progress = progress .. "  " .. time_left(left) end
  else
    progress = "正在下载更新, 已下载 " .. megabytes(load)
    if speed > 0 then progress = progress .. "  " .. rate(speed) end
  end
  show_status()
end

function view.hide()
  if window and window:IsOpen() then window:Hide() end
end

function view.top()
  ensure_window()
  window:BringToFront()
end

return view
