-- wrk script: POST the getCredentials body from $VX_LOAD_BODY and count every answer that is
-- not 200 (wrk itself only counts statuses outside 2xx/3xx).
wrk.method = "POST"
wrk.body = os.getenv("VX_LOAD_BODY")
wrk.headers["Content-Type"] = "application/json"

local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

function init(args)
  not200 = 0
end

function response(status, headers, body)
  if status ~= 200 then
    not200 = not200 + 1
  end
end

function done(summary, latency, requests)
  local total = 0
  for _, thread in ipairs(threads) do
    total = total + thread:get("not200")
  end
  io.write(string.format("not200 %d\n", total))
end
